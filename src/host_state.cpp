#include "host_state.hpp"

host_record host_state;
