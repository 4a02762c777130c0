;;; Arithmetic and comparisons on integers, floats and both mixed, and how
;;; the results print.

(deftemplate pair (slot a) (slot b))

(deffacts pairs
  (pair (a 7) (b 2))
  (pair (a -7) (b 2))
  (pair (a 6) (b 3))
  (pair (a 2.5) (b 2))
  (pair (a 0.1) (b 0.2))
  (pair (a 1000000) (b 1000000))
  (pair (a 3) (b 3.0)))

(defrule compute
  (pair (a ?a) (b ?b))
  =>
  (printout t ?a " " ?b ": + " (+ ?a ?b) " - " (- ?a ?b) " * " (* ?a ?b)
              " / " (/ ?a ?b) " mod " (mod ?a ?b) " abs " (abs (- ?b ?a)) crlf)
  (printout t "  = " (= ?a ?b) " <> " (<> ?a ?b) " < " (< ?a ?b) " <= " (<= ?a ?b)
              " > " (> ?a ?b) " >= " (>= ?a ?b) " eq " (eq ?a ?b) " neq " (neq ?a ?b) crlf))

(defrule constants
  (declare (salience 10))
  =>
  (printout t 1 " " -1 " " 1.0 " " -0.5 " " 1.5e3 " " 2e-3 " " 1e20 " " 1.25e-7 crlf)
  (printout t (+ 1 2 3 4) " " (- 10 1 2) " " (* 2 3 4.0) " " (/ 100 2 5) " " (/ 1 3) crlf)
  (printout t (* 1.0 123456789012) " " (/ 2 3.0) " " (+ 0.5 0.25) " " (- 0 3) crlf)
  (printout t (abs -4) " " (abs -4.5) " " (mod 10 4) " " (mod -10 4) " " (mod 7.5 2) crlf)
  (printout t (= 1 1.0) " " (eq 1 1.0) " " (< 1 2 3) " " (< 1 3 2) " " (> 3.5 3) crlf))

(defrule match-float-literal
  (pair (a 2.5) (b ?b))
  =>
  (printout t "float literal matched, b " ?b crlf))

(defrule int-literal-not-float
  (pair (a ?a) (b 3))
  =>
  (printout t "b is the integer 3 for a " ?a crlf))

(defrule float-literal-not-int
  (pair (a ?a) (b 3.0))
  =>
  (printout t "b is the float 3.0 for a " ?a crlf))
