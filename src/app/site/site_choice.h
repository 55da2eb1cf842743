#pragma once
// Which site a run asks for its update list: the one /P or the settings
// name (or the build's default), then the numbered alternatives; and the
// reading of a list until it holds still.

#include "app/context/run_context.h"
#include "platform/status.h"

// The chosen site: /P (a directory becomes file:// with its delimiter), else
// LiveUpdate.www, else the build's default; empty when none names one.
void ChooseSite(RunContext& context);
// Whether /P, the settings or the build name any site to ask.
bool SiteConfigured(const RunContext& context);
// Fetches the list from the chosen site. Without one (a build without a
// default site) the alternatives are all there is to ask.
Status FetchFromChosen(RunContext& context);
// Tries the numbered alternative sites after the chosen one failed; whether
// one gave a list (context.site is then that site).
bool FetchFromAlternatives(RunContext& context);
// Fetches the list until two readings in a row agree; otherwise why not
// (the failed reading's cause, or that the list kept changing).
Status ListIsStable(RunContext& context);
