#include "app/run/build_info.h"

#include <string>
#include <vector>

#include "app/context/names.h"
#include "app/fetch/minisign.h"
#include "app/run/run.h"
#include "support/strfn.h"

#ifndef TVQ_PUBLIC_KEY
#define TVQ_PUBLIC_KEY ""
#endif
#ifndef TVQ_CHANNEL
#define TVQ_CHANNEL ""
#endif

std::string BuiltInKeysText() { return TVQ_PUBLIC_KEY; }

std::string BuiltInChannel() { return TVQ_CHANNEL; }

std::string VersionReport(const std::string& programName) {
  std::string text = "tvqlupd " + std::string(kVersion) + "\n";
  const std::string site = DefaultSiteBase();
  text += "default update site: " + (site.empty() ? "none" : site + LowStr(programName) + "/") + "\n";
  std::vector<std::string> problems;
  const std::vector<MinisignPublicKey> keys = ParsePublicKeys(BuiltInKeysText(), &problems);
  for (const MinisignPublicKey& key : keys)
    text += "built-in key: " + KeyIdText(key.keyId) + " " + PublicKeyLine(key) + "\n";
  for (const std::string& problem : problems) text += "built-in key not readable: " + problem + "\n";
  if (keys.empty() && problems.empty())
    text += "built-in keys: none (the setting LiveUpdate.publicKey decides)\n";
  const std::string channel = BuiltInChannel();
  text += "built-in channel: " +
          (channel.empty() ? "none (the setting LiveUpdate.channel decides)" : channel) + "\n";
  return text;
}
