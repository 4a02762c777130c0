;;; A pattern names a slot its template does not have.
(deftemplate item (slot name) (slot size))

(defrule show
  (item (name ?n) (colour red))
  =>
  (printout t ?n crlf))
