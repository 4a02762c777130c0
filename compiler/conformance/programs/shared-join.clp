;;; One fact completing matches of two rules that share their first two
;;; joins (r1, r2), and of a rule it enters as the first pattern (r3). The
;;; order among r1's and r2's ties differs from CLIPS's (see
;;; golden/shared-join.multiset).

(deffacts start
  (a 1) (a 2)
  (c 1) (c 2)
  (d 1) (d 2)
  (go))

(defrule r1
  (a ?x)
  (b ?y)
  (c ?z)
  =>
  (printout t "r1 " ?x " " ?z crlf))

(defrule r2
  (a ?x)
  (b ?y)
  (d ?z)
  =>
  (printout t "r2 " ?x " " ?z crlf))

(defrule r3
  (b ?y)
  (a ?x)
  (c ?z)
  =>
  (printout t "r3 " ?x " " ?z crlf))

(defrule go
  ?g <- (go)
  =>
  (retract ?g)
  (assert (b 1)))
