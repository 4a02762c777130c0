;;; Rules with no patterns fire once after reset, in salience order; a rule
;;; whose only condition is a not fires once too.

(defrule start
  =>
  (printout t "start" crlf)
  (assert (step 1)))

(defrule early
  (declare (salience 100))
  =>
  (printout t "early" crlf))

(defrule late
  (declare (salience -100))
  =>
  (printout t "late" crlf))

(defrule nothing-yet
  (declare (salience 50))
  (not (step ?))
  =>
  (printout t "no step yet" crlf))

(defrule step
  (step ?n&:(< ?n 3))
  =>
  (printout t "step " ?n crlf)
  (assert (step (+ ?n 1))))
