;;; duplicate copies a fact with some slots changed and leaves the original;
;;; a copy identical to an existing fact is not asserted again, and neither
;;; is a second assert of the same ordered fact.

(deftemplate car (slot model) (slot color) (slot year))

(deffacts garage
  (car (model m1) (color red) (year 2001)))

(defrule repaint
  ?c <- (car (model m1) (color red))
  =>
  (printout t "repaint" crlf)
  (duplicate ?c (color blue))
  (duplicate ?c (color green) (year 2002))
  (duplicate ?c))

(defrule show
  (car (model ?m) (color ?c) (year ?y))
  =>
  (printout t ?m " " ?c " " ?y crlf))

(defrule mark
  (car (color ?c))
  =>
  (assert (painted ?c))
  (assert (painted any)))

(defrule painted
  (painted ?c)
  =>
  (printout t "painted " ?c crlf))
