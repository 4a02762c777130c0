;; runbench.bat's second run asserts (stress-test) after (reset): the
;; solver then tries every technique at once instead of the simplest first.
;; As deffacts loaded last it is asserted right after (initial-fact) too.
(deffacts stress-test
   (stress-test))
