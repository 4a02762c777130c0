;;; An action reads a variable that no pattern binds.
(deftemplate item (slot name) (slot size))

(defrule show
  (item (name ?n))
  =>
  (printout t ?n " " ?size crlf))
