;;; Multifield slots are outside the language.
(deftemplate item
  (slot name)
  (multislot tags))
