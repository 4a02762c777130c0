;;; One closing parenthesis too many after a rule.
(deftemplate item (slot name))

(defrule show
  (item (name ?n))
  =>
  (printout t ?n crlf)))
