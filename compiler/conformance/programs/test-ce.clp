;;; test conditional elements: first in a rule, between patterns, after a
;;; not, and over values of several patterns.

(deffacts values (val 4) (val 9) (val 12) (limit 10))

(defrule always
  (test (> 3 2))
  =>
  (printout t "test alone" crlf))

(defrule never
  (test (< 3 2))
  =>
  (printout t "never printed" crlf))

(defrule over-limit
  (limit ?l)
  (val ?v)
  (test (> ?v ?l))
  =>
  (printout t "over " ?v crlf))

(defrule ordered-pair
  (val ?a)
  (test (< ?a 10))
  (val ?b)
  (test (and (< ?a ?b) (= (mod ?b 3) 0)))
  =>
  (printout t "pair " ?a " " ?b crlf))

(defrule largest
  (val ?a)
  (not (val ?b&:(> ?b ?a)))
  (test (> ?a 5))
  =>
  (printout t "largest " ?a crlf))
