;;; if/then/else and bind in actions: local variables, rebinding a pattern
;;; variable, nested conditions and an if without else.

(deftemplate reading (slot sensor) (slot value))

(deffacts readings
  (reading (sensor s1) (value 12))
  (reading (sensor s2) (value -3))
  (reading (sensor s3) (value 40))
  (reading (sensor s4) (value 0)))

(defrule classify
  (reading (sensor ?s) (value ?v))
  =>
  (bind ?label none)
  (if (< ?v 0)
   then (bind ?label negative)
   else (if (= ?v 0)
         then (bind ?label zero)
         else (if (> ?v 20) then (bind ?label high) else (bind ?label normal))))
  (bind ?v (* ?v 2))
  (printout t ?s " " ?label " " ?v crlf)
  (if (eq ?label high) then (printout t "  alert " ?s crlf)))

(defrule total
  (declare (salience -1))
  (reading (sensor s1) (value ?a))
  (reading (sensor s3) (value ?b))
  =>
  (bind ?sum (+ ?a ?b))
  (bind ?mean (/ ?sum 2))
  (if (and (> ?sum 50) (not (> ?mean 30)))
   then (printout t "sum " ?sum " mean " ?mean crlf)
        (printout t "two actions in then" crlf)
   else (printout t "unexpected" crlf)))
