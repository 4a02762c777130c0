;;; modify in loops: each modify gives the fact a new index and recency, so
;;; the counter modified last runs on while the others wait.

(deftemplate counter (slot name) (slot value (default 0)) (slot limit))
(deftemplate ball (slot at) (slot hits (default 0)))

(deffacts counters
  (counter (name a) (limit 3))
  (counter (name b) (value 10) (limit 12))
  (ball (at ping)))

(defrule step
  ?c <- (counter (name ?n) (value ?v) (limit ?l&:(< ?v ?l)))
  =>
  (printout t ?n " " ?v crlf)
  (modify ?c (value (+ ?v 1))))

(defrule finished
  (counter (name ?n) (value ?v) (limit ?v))
  =>
  (printout t ?n " done at " ?v crlf))

(defrule ping
  (declare (salience -1))
  ?b <- (ball (at ping) (hits ?h&:(< ?h 4)))
  =>
  (printout t "ping " ?h crlf)
  (modify ?b (at pong) (hits (+ ?h 1))))

(defrule pong
  (declare (salience -1))
  ?b <- (ball (at pong) (hits ?h))
  =>
  (printout t "pong " ?h crlf)
  (modify ?b (at ping)))

(defrule ball-rests
  (declare (salience -2))
  (ball (at ping) (hits 4))
  (counter (name ?n) (value ?v))
  =>
  (printout t "rest " ?n " " ?v crlf))
