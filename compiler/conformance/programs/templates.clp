;;; Templates with and without defaults, field as a synonym of slot, ordered
;;; facts of several fields, and slots given in any order.

(deftemplate box
  (slot id)
  (slot width (default 10))
  (slot label (default "none"))
  (slot owner)
  (field shelf (default top)))

(deffacts store
  (box (id b1))
  (box (label "fragile") (id b2) (width 3))
  (box (id b3) (owner ann) (shelf low))
  (stock b1 4 2.5)
  (stock b2 0 1.0)
  (flag))

(defrule show-box
  (box (id ?i) (width ?w) (label ?l) (owner ?o) (shelf ?s))
  =>
  (printout t ?i " " ?w " " ?l " " ?o " " ?s crlf))

(defrule unowned
  (box (id ?i) (owner nil))
  =>
  (printout t ?i " has no owner" crlf))

(defrule stocked
  (stock ?i ?n&:(> ?n 0) ?price)
  (box (id ?i) (width ?w))
  =>
  (printout t "stock " ?i " " ?n " at " ?price " width " ?w crlf))

(defrule flagged
  (flag)
  =>
  (printout t "flag" crlf)
  (assert (box (id b4) (width 1.5)))
  (assert (stock b4 1 9)))
