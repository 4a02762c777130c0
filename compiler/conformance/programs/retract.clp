;;; Fact-address bindings with retract: retracting a fact removes the
;;; activations that used it before they fire.

(deftemplate job (slot id) (slot prio))

(deffacts jobs
  (job (id j1) (prio 3)) (job (id j2) (prio 1)) (job (id j3) (prio 2))
  (cancel j3))

(defrule cancel
  (declare (salience 10))
  ?c <- (cancel ?id)
  ?j <- (job (id ?id))
  =>
  (printout t "cancel " ?id crlf)
  (retract ?j ?c))

(defrule run-lowest
  ?j <- (job (id ?id) (prio ?p))
  (not (job (prio ?q&:(< ?q ?p))))
  =>
  (printout t "run " ?id " " ?p crlf)
  (retract ?j))

(defrule report
  (job (id ?id))
  =>
  (printout t "seen " ?id crlf))

(defrule done
  (declare (salience -10))
  (not (job))
  =>
  (printout t "no jobs left" crlf))
