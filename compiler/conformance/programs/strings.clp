;;; format, str-cat and sym-cat; symbols made at run time match symbols
;;; written in patterns, and strings never match symbols.

(deftemplate person (slot first) (slot last) (slot age))

(deffacts people
  (person (first "Ada") (last Lovelace) (age 36))
  (person (first "Alan") (last Turing) (age 41)))

(defrule show
  (person (first ?f) (last ?l) (age ?a))
  =>
  (format t "%-8s|%8s|%3d|%n" ?f ?l ?a)
  (format t "%s is %d years old%n" (str-cat ?f " " ?l) ?a)
  (printout t (str-cat ?l "-" ?a "-" 1.5) crlf)
  (assert (tag (sym-cat ?l _ ?a))))

(defrule tagged
  (tag Turing_41)
  =>
  (printout t "tag Turing_41 matched" crlf))

(defrule any-tag
  (tag ?t)
  =>
  (printout t "tag " ?t " " (str-cat ?t) crlf))

(defrule string-is-not-symbol
  (person (first Ada))
  =>
  (printout t "symbol Ada matched a string" crlf))

(defrule string-literal
  (person (first "Ada") (last ?l))
  =>
  (printout t "string Ada " ?l " " (eq ?l Lovelace) " " (eq ?l "Lovelace") crlf))

(defrule formats
  (declare (salience 10))
  =>
  (format t "[%5s][%-5s][%s]%n" ab cd "e f")
  (format t "[%d][%4d][%-4d]%n" 42 7 7)
  (printout t (str-cat "a" b 3 4.5) " " (sym-cat x "y" 2) crlf))
