;;; Predicate constraints :(...) and return-value constraints =(...), on the
;;; slot's own value and on values bound by earlier patterns.

(deftemplate num (slot v))

(deffacts numbers
  (num (v 1)) (num (v 2)) (num (v 3)) (num (v 5)) (num (v 6)) (num (v 10)))

(defrule big
  (num (v ?x&:(> ?x 4)))
  =>
  (printout t "big " ?x crlf))

(defrule small-odd
  (num (v ?x&:(< ?x 4)&:(= (mod ?x 2) 1)))
  =>
  (printout t "small-odd " ?x crlf))

(defrule successor
  (num (v ?x))
  (num (v =(+ ?x 1)))
  =>
  (printout t "successor " ?x " " (+ ?x 1) crlf))

(defrule double
  (num (v ?x))
  (num (v ?y&=(* ?x 2)))
  =>
  (printout t "double " ?x " " ?y crlf))

(defrule sum-is-member
  (num (v ?x))
  (num (v ?y&:(< ?x ?y)))
  (num (v =(+ ?x ?y)))
  =>
  (printout t "sum " ?x " + " ?y crlf))

(defrule ten-or-above-double
  (num (v ?x&:(> ?x 2)))
  (num (v 10|=(* ?x 2)&~?x))
  =>
  (printout t "ten-or-double " ?x crlf))
