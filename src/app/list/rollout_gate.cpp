#include "app/list/rollout_gate.h"

#include <cmath>
#include <ostream>

#include "app/context/display.h"
#include "app/list/list_binding.h"
#include "app/list/rollout.h"
#include "platform/os.h"
#include "platform/signature.h"
#include "settings/config.h"
#include "support/fileutil.h"
#include "support/lingua.h"
#include "support/nuldev.h"
#include "support/strfn.h"

namespace {

constexpr std::size_t kInstallationNumberBytes = 16;

// The installation's random number: drawn at its first rollout and kept in
// its settings. When it cannot be kept, this run uses the one it drew.
std::string InstallationNumber() {
  std::string number = CfgGetStr(std::string(kRolloutNumberKey) + "=");
  if (IsLowerHex(number, 2 * kInstallationNumberBytes)) return number;
  number = HexOfBytes(crypto::RandomBytes(kInstallationNumberBytes));
  if (const Status kept = CfgStore(kRolloutNumberKey, number); !kept.ok())
    StdText() << "rollout number not kept: " << kept.message() << std::endl;
  return number;
}

// What the clock says of a phased release, when it lies outside it.
std::string ClockNote(const Rollout& rollout, std::int64_t now) {
  if (rollout.kind != Rollout::Kind::Phased) return {};
  if (now < rollout.start)
    return "; the clock (" + UtcTimeText(now) + ") is before the rollout's start: nothing is received yet";
  if (ShareAt(rollout, now) >= 100) return "; the clock (" + UtcTimeText(now) + ") is past the rollout's end";
  return {};
}

std::string HeldBackStatus(const std::string& id, bool halted) {
  if (halted)
    return LangTextOf("G:Update " + id + " wurde vom Hersteller angehalten; diese Installation erhält es vorerst nicht",
                      "F:la mise à jour " + id + " est suspendue par son éditeur ; cette installation ne la reçoit pas pour l'instant",
                      "*:update " + id + " is halted by its maker; this installation does not receive it for now");
  return LangTextOf("G:Update " + id + " wird schrittweise verteilt; diese Installation erhält es später",
                    "F:la mise à jour " + id + " est distribuée progressivement ; cette installation la recevra plus tard",
                    "*:update " + id + " is being released gradually; this installation receives it later");
}

// The identifier as the block's header writes it: between the first two
// quotes of "<update id=\"...\">", as the publisher names it in the record.
std::string HeaderIdOf(const std::string& block) {
  const std::size_t open = block.find('"');
  const std::size_t close = open == std::string::npos ? open : block.find('"', open + 1);
  const std::size_t lineEnd = block.find_first_of("\r\n>");
  if (close == std::string::npos || close > lineEnd) return {};
  return block.substr(open + 1, close - open - 1);
}

}  // namespace

bool RolloutHoldsBack(const RunContext& context) {
  if (!context.record) return false;
  const std::string id = HeaderIdOf(context.updateInfo);
  const auto it = context.record->rollouts.find(id);
  if (it == context.record->rollouts.end()) return false;
  const Rollout& rollout = it->second;
  const std::int64_t now = os::WallTimeSeconds();
  const double place = PlaceOf(InstallationNumber(), id);
  const bool receives = place < ShareAt(rollout, now);
  const std::string shownId = ControlsReplaced(id);
  StdText() << "rollout of update " << shownId << ": " << RolloutSummary(rollout, now)
            << "; this installation's place: " << DecimalText(std::floor(place * 10) / 10) << " %"
            << ClockNote(rollout, now) << (receives ? "; received now" : "; held back") << std::endl;
  if (receives) return false;
  const std::string status = HeldBackStatus(shownId, rollout.kind == Rollout::Kind::Halted);
  StdText() << status << std::endl;  // the status line shows on the console, not in the account
  ShowStatus(status);
  return true;
}
