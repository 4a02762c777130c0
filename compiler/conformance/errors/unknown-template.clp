;;; A pattern in slot form names a template that is not defined.
(deftemplate item (slot name))

(defrule show
  (item (name ?n))
  (itme (name ?n))
  =>
  (printout t ?n crlf))
