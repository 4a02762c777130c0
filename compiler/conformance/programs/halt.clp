;;; halt stops the run after the current action: the rest of that action
;;; still runs, the activations left on the agenda do not fire.

(deftemplate tick (slot n))

(deffacts start (tick (n 1)))

(defrule advance
  ?t <- (tick (n ?n&:(< ?n 100)))
  =>
  (printout t "tick " ?n crlf)
  (modify ?t (n (+ ?n 1))))

(defrule stop-at-five
  (declare (salience 10))
  (tick (n 5))
  =>
  (printout t "halting" crlf)
  (halt)
  (printout t "after halt" crlf))

(defrule never
  (declare (salience -10))
  (tick (n ?))
  =>
  (printout t "never printed" crlf))
