;;; not over several patterns, (not (and ...)), with a not nested inside,
;;; and the activations it gains and loses while facts change.

(deffacts shop
  (customer c1) (customer c2) (customer c3)
  (order c1 o1) (order c1 o2) (order c2 o3)
  (shipped o1) (shipped o2))

(defrule all-shipped
  (customer ?c)
  (not (and (order ?c ?o) (not (shipped ?o))))
  =>
  (printout t "all shipped for " ?c crlf))

(defrule no-pair
  (customer ?c)
  (not (and (order ?c ?o1) (order ?c ?o2&~?o1)))
  =>
  (printout t "at most one order for " ?c crlf))

(defrule ship
  (declare (salience -5))
  (order ?c ?o)
  (not (shipped ?o))
  =>
  (printout t "shipping " ?o crlf)
  (assert (shipped ?o)))

(defrule second-order
  (declare (salience -10))
  (customer c3)
  (not (order c3 ?))
  =>
  (printout t "ordering for c3" crlf)
  (assert (order c3 o4) (order c3 o5)))
