#include "app/site/site_choice.h"

#include "app/context/names.h"
#include "app/list/update_list.h"
#include "platform/os.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/strfn.h"

namespace {

constexpr int kAlternativeSites = 9;

// The numbered alternative site n: LiveUpdate.wwwN, else LiveUpdate.www.N,
// else the default site; empty when none of them names one.
std::string AlternativeSite(int n) {
  const std::string site = CfgGetStr("LiveUpdate.www" + IntStr(n));
  return site.empty() ? CfgGetStr("LiveUpdate.www." + IntStr(n) + "=" + DefaultUpdateSite()) : site;
}

}  // namespace

Status ListIsStable(RunContext& context) {
  const Status changed = Status::Error("the list changed between readings");
  std::string copy = context.updateInfo;
  os::SleepMs(700);
  if (Status read = GetUpdateList(context); !read.ok()) return read;
  if (context.updateInfo == copy) return Status();
  os::SleepMs(2000);
  const bool failed = !GetUpdateList(context).ok();
  copy = context.updateInfo;
  os::SleepMs(1000);
  if (Status read = GetUpdateList(context); !read.ok()) return read;
  return !failed && context.updateInfo == copy ? Status() : changed;
}

void ChooseSite(RunContext& context) {
  if (context.siteSwitch) {
    context.site = *context.siteSwitch;
    if (!context.site.empty() && DirExists(context.site)) {
      // File names are appended to the site directly, so a directory needs its
      // delimiter (without it the list would be looked for beside it).
      context.site = "file://" + WithTrailingDelimiter(context.site);
    }
  } else {
    context.site = CfgGetStr("LiveUpdate.www=" + DefaultUpdateSite());
  }
  if (context.site.empty()) context.site = DefaultUpdateSite();
}

bool SiteConfigured(const RunContext& context) {
  if (!context.site.empty()) return true;
  for (int n = 1; n <= kAlternativeSites; ++n)
    if (!AlternativeSite(n).empty()) return true;
  return false;
}

Status FetchFromChosen(RunContext& context) {
  if (!context.site.empty()) return GetUpdateList(context);
  return Status::Error("neither /P nor LiveUpdate.www names a site, and no alternative site answered");
}

bool FetchFromAlternatives(RunContext& context) {
  bool fetched = false;
  for (int n = 1; n <= kAlternativeSites && !fetched; ++n) {
    context.site = AlternativeSite(n);
    if (!context.site.empty()) fetched = GetUpdateList(context).ok();
  }
  return fetched;
}
