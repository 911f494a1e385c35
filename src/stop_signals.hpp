#pragma once

// SIGTERM, SIGHUP and SIGINT during an edit: the host keeps the file, says
// so, and only then ends as the signal would have ended it. Never sent on to
// the editor.

// From now on, a stop signal whose action is not "ignore" (a caller that
// ignores one, nohup say, keeps it ignored) is caught: its number goes into
// host_state.stop_signal and the loop in host_state is stopped, so that
// uv_run returns. Call once the temporary file and the loop exist. Gives
// false after a message; the signals then keep their actions.
bool catch_stop_signals();

// The stop signal caught so far, or 0. It stays set once caught.
int caught_stop_signal();

// "SIGTERM", "SIGHUP" or "SIGINT" for those numbers, else "a signal".
const char *stop_signal_name(int number);

// Gives each caught stop signal its default action back, then, when one was
// caught, raises it, so that the host ends as killed by it. Returns only when
// none was caught. Call last, after the teardown.
void end_by_caught_stop_signal();
