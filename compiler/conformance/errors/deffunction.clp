;;; A construct outside the language.
(deftemplate item (slot name))

(deffunction twice (?x)
  (* 2 ?x))
