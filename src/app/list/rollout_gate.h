#pragma once
// The rollout of the selected update in the run: whether this installation
// receives it yet (app/list/rollout.h).

#include "app/context/run_context.h"

// The setting that keeps the installation's own random number.
inline constexpr const char* kRolloutNumberKey = "LiveUpdate.rolloutNumber";

// Whether the selected update's rollout holds it back from this
// installation now. When it does, the status line and the account say so
// (a held-back installation is not up to date); the account also says how
// the rollout stands and where the installation's place is.
bool RolloutHoldsBack(const RunContext& context);
