;;; The or conditional element: the rule becomes one rule per branch, so a
;;; fact set that satisfies two branches fires the rule twice.

(deffacts sensors
  (room kitchen) (room hall) (room cellar) (room attic)
  (smoke kitchen) (heat kitchen) (heat hall) (flood cellar))

(defrule alarm
  (or (smoke ?r) (heat ?r))
  =>
  (printout t "alarm " ?r crlf))

(defrule trouble
  (room ?r)
  (or (flood ?r)
      (and (smoke ?r) (heat ?r))
      (and (heat ?r) (not (smoke ?r))))
  =>
  (printout t "trouble " ?r crlf))

(defrule quiet
  (room ?r)
  (not (smoke ?r))
  (not (heat ?r))
  (not (flood ?r))
  =>
  (printout t "quiet " ?r crlf))
