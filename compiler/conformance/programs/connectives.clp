;;; Connective constraints inside one slot: & (and), | (or), ~ (not),
;;; against constants and against variables bound in earlier patterns.

(deftemplate item (slot name) (slot color) (slot size))

(deffacts items
  (item (name a) (color red) (size 1))
  (item (name b) (color green) (size 2))
  (item (name c) (color blue) (size 3))
  (item (name d) (color red) (size 3))
  (item (name e) (color yellow) (size 2)))

(defrule red-or-green
  (item (name ?n) (color red|green))
  =>
  (printout t "red-or-green " ?n crlf))

(defrule not-red
  (item (name ?n) (color ~red))
  =>
  (printout t "not-red " ?n crlf))

(defrule neither-red-nor-blue
  (item (name ?n) (color ~red&~blue))
  =>
  (printout t "neither-red-nor-blue " ?n crlf))

(defrule bound-and-or
  (item (name ?n) (color ?c&red|blue) (size ?s))
  =>
  (printout t "bound-and-or " ?n " " ?c " " ?s crlf))

(defrule same-size-other
  (item (name ?n) (size ?s) (color red))
  (item (name ?m&~?n) (size ?s))
  =>
  (printout t "same-size-other " ?n " " ?m crlf))

(defrule same-color-or-yellow
  (item (name a) (color ?c))
  (item (name ?m&~a) (color ?c2&?c|yellow))
  =>
  (printout t "same-color-or-yellow " ?m " " ?c2 crlf))

(defrule not-either-bound
  (item (name b) (size ?s1))
  (item (name c) (size ?s2))
  (item (name ?m) (size ~?s1&~?s2))
  =>
  (printout t "not-either-bound " ?m crlf))
