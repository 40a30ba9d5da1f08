// The errno that a failing file-system operation reports.
#pragma once

#include "iexcept.hpp"

// The errorId() of the IAccessError that `attempt` throws; 0 when it throws none.
inline int errorOf(auto&& attempt) {
  try {
    attempt();
  } catch (const IAccessError& error) {
    return error.errorId();
  }
  return 0;
}
