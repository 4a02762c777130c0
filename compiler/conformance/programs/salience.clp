;;; Salience first, then among equal salience the newest activation first:
;;; the order of deffacts, of the facts one action asserts, of the rules one
;;; fact activates, and of the partial matches one fact completes, entering
;;; as the last pattern (pair) or as the first (x-then-color).

(deffacts start
  (go)
  (color red) (color green) (color blue))

(defrule spawn
  (declare (salience 5))
  (go)
  =>
  (printout t "spawn" crlf)
  (assert (x 1))
  (assert (x 2))
  (assert (x 3) (x 4)))

(defrule see-x-first
  (x ?n)
  =>
  (printout t "first " ?n crlf))

(defrule see-x-second
  (x ?n)
  =>
  (printout t "second " ?n crlf))

(defrule see-x-high
  (declare (salience 10))
  (x ?n)
  =>
  (printout t "high " ?n crlf))

(defrule see-x-low
  (declare (salience -10))
  (x ?n)
  =>
  (printout t "low " ?n crlf))

(defrule pair
  (declare (salience -5))
  (color ?c)
  (x ?n&:(< ?n 3))
  =>
  (printout t "pair " ?c " " ?n crlf))

(defrule x-then-color
  (declare (salience -6))
  (x 4)
  (color ?c)
  =>
  (printout t "x-then-color " ?c crlf))

(defrule color-seen
  (declare (salience 1))
  (color ?c)
  =>
  (printout t "color " ?c crlf))
