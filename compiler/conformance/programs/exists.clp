;;; The exists conditional element: one activation however many facts match,
;;; gone when the last of them goes, back when one returns.

(deffacts work
  (task t1 open) (task t2 open) (task t3 done)
  (worker w1) (worker w2)
  (skill w1 welding) (skill w1 painting) (skill w2 typing) (skill w2 welding))

(defrule some-task-open
  (exists (task ? open))
  =>
  (printout t "some task open" crlf))

(defrule worker-with-work
  (worker ?w)
  (exists (task ? open))
  =>
  (printout t ?w " has work" crlf))

(defrule welders
  (worker ?w)
  (exists (skill ?w welding))
  =>
  (printout t ?w " can weld" crlf))

(defrule close-task
  (declare (salience -10))
  ?t <- (task ?id open)
  =>
  (printout t "closing " ?id crlf)
  (retract ?t)
  (assert (task ?id done)))

(defrule all-closed
  (declare (salience -20))
  (not (task ? open))
  =>
  (printout t "all closed" crlf))

(defrule reopen
  (declare (salience -30))
  (not (task ? open))
  (not (reopened))
  =>
  (printout t "reopening t4" crlf)
  (assert (reopened) (task t4 open)))
