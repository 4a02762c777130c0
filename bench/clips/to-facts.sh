#!/bin/sh
# Turns a Manners data file ("guest NAME SEX HOBBY", "last_seat N") into
# the peer engine's fact syntax, with the start facts the library example
# asserts after the data, in the same order.
awk '$1 == "guest" { printf "(guest (name %s) (sex %s) (hobby %s))\n", $2, $3, $4 }
     $1 == "last_seat" { printf "(last_seat (seat %s))\n", $2 }
     END { print "(count (c 1))"; print "(context (state start_up))" }' "$1"
