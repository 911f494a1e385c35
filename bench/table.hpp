#pragma once

// The benchmark's one table: each figure as the median and the spread (10th
// to 90th percentile) of repeated runs, or as one other percentile alone,
// against a goal where there is one.

#include <string>
#include <vector>

// The value below which the given percent of values lie, interpolated between
// neighbours; values must not be empty.
double percentile(std::vector<double> values, double percent);

// Adds a row: the figure is the percentile at of values (the median by
// default; any other is printed without a spread). A limit above 0 is the goal
// the figure must stay below, and the row says whether it was met.
void add_row(const std::string &figure, const std::vector<double> &values, const char *unit,
             const std::string &goal = "", double limit = 0, double at = 50);

// Prints the rows on standard output, in the order they were added.
void print_table();
