;;; A retraction that unblocks not: the partials the blocker held fire
;;; again, below and above the not, for rules that share the not's join
;;; (mid, keyed) and rules that do not (last, first). The order among these
;;; ties differs from CLIPS's (see golden/unblock.multiset).

(deffacts start
  (blocker)
  (c 1) (c 2) (c 3)
  (a 1) (a 2) (a 3))

(defrule mid
  (a ?x)
  (not (blocker))
  (c ?y)
  =>
  (printout t "mid " ?x " " ?y crlf))

(defrule last
  (a ?x)
  (c ?y)
  (not (blocker))
  =>
  (printout t "last " ?x " " ?y crlf))

(defrule first
  (not (blocker))
  (a ?x)
  (c ?y)
  =>
  (printout t "first " ?x " " ?y crlf))

(defrule keyed
  (a ?x)
  (not (blocker))
  (c ?y&:(>= ?y ?x))
  (a ?z&:(< ?z ?y))
  =>
  (printout t "keyed " ?x " " ?y " " ?z crlf))

(defrule unblock
  (declare (salience 10))
  ?b <- (blocker)
  =>
  (retract ?b))
