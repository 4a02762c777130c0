;;; Miss Manners as the benchmark is usually written: the same ruleset as
;;; manners.clp except find_seating, whose count pattern comes after the two
;;; guest patterns and whose guard, that only the newest seating is
;;; extended, is a test after it. The engine then joins every seating with
;;; the guests before it sees the count.

(deftemplate guest (slot name) (slot sex) (slot hobby))
(deftemplate last_seat (slot seat))
(deftemplate seating (slot seat1) (slot name1) (slot name2) (slot seat2)
  (slot id) (slot pid) (slot path_done))
(deftemplate context (slot state))
(deftemplate path (slot id) (slot name) (slot seat))
(deftemplate chosen (slot id) (slot name) (slot hobby))
(deftemplate count (slot c))

(defrule assign_first_seat
  ?f1 <- (context (state start_up))
  (guest (name ?n))
  ?f3 <- (count (c ?c))
  =>
  (assert (seating (seat1 1) (name1 ?n) (name2 ?n) (seat2 1) (id ?c) (pid 0)
                   (path_done yes)))
  (assert (path (id ?c) (name ?n) (seat 1)))
  (modify ?f3 (c (+ ?c 1)))
  (modify ?f1 (state assign_seats)))

(defrule find_seating
  ?f1 <- (context (state assign_seats))
  (seating (seat2 ?seat2) (name2 ?n2) (id ?id) (path_done yes))
  (guest (name ?n2) (sex ?s1) (hobby ?h1))
  (guest (name ?g2) (sex ~?s1) (hobby ?h1))
  ?f5 <- (count (c ?c))
  (test (= ?id (- ?c 1)))
  (not (path (id ?id) (name ?g2)))
  (not (chosen (id ?id) (name ?g2) (hobby ?h1)))
  =>
  (assert (seating (seat1 ?seat2) (name1 ?n2) (name2 ?g2) (seat2 (+ ?seat2 1))
                   (id ?c) (pid ?id) (path_done no)))
  (assert (path (id ?c) (name ?g2) (seat (+ ?seat2 1))))
  (assert (chosen (id ?id) (name ?g2) (hobby ?h1)))
  (modify ?f5 (c (+ ?c 1)))
  (modify ?f1 (state make_path)))

(defrule make_path
  (declare (salience 1))
  (context (state make_path))
  (seating (id ?id) (pid ?pid) (path_done no))
  (path (id ?pid) (name ?n1) (seat ?s))
  (not (path (id ?id) (name ?n1)))
  =>
  (assert (path (id ?id) (name ?n1) (seat ?s))))

(defrule path_done
  ?f1 <- (context (state make_path))
  ?f2 <- (seating (path_done no))
  =>
  (modify ?f2 (path_done yes))
  (modify ?f1 (state check_done)))

(defrule are_we_done
  (declare (salience 1))
  ?f1 <- (context (state check_done))
  (last_seat (seat ?l_seat))
  (seating (seat2 ?l_seat))
  =>
  (modify ?f1 (state print_results)))

(defrule continue
  ?f1 <- (context (state check_done))
  =>
  (modify ?f1 (state assign_seats)))

(defrule print_results
  (declare (salience 1))
  (context (state print_results))
  (seating (id ?id) (seat2 ?s2))
  (last_seat (seat ?s2))
  ?f4 <- (path (id ?id) (name ?n) (seat ?s))
  =>
  (retract ?f4)
  (printout t "seat " ?s " " ?n crlf))

(defrule all_done
  (context (state print_results))
  =>
  (halt))
