;;; A function outside the language, in an action.
(deftemplate item (slot name))

(defrule show
  (item (name ?n))
  =>
  (printout t (str-length ?n) crlf))
