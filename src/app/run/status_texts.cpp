#include "app/run/status_texts.h"

#include "support/lingua.h"

std::string StatusCheckingInstallation() {
  return LangText("G:Überprüfen von installierten Updates;F:Contrôle des mises à jour installées;"
                  "*:Checking current installation information") +
         "...";
}
std::string StatusChecking() {
  return LangText("G:Überprüfen von neuen Updates;F:recherche des nouvelles mises à jour;"
                  "*:checking for updates") +
         "...";
}
std::string StatusCopying() {
  return LangText("G:Dateien werden kopiert;F:copie en cours;*:copying") + "...";
}
std::string StatusDownloading() {
  return LangText("G:downloading;F:téléchargement en cours;*:downloading") + "...";
}
std::string StatusNothingNew() {
  return LangTextOf("G:Es wurde kein neues Update gefunden",
                    "F:Pas de nouvelle mise à jour disponible",
                    "*:exiting (no new updates found)") +
         "...";
}
std::string StatusInstallFailed() {
  return LangTextOf("G:Fehler: das Update kann nicht installiert werden",
                    "F:erreur: la mise à jour ne peut pas être installée",
                    "*:error: cannot install files");
}
std::string StatusDownloadFailed() {
  return LangTextOf("G:Das Update konnte nicht installiert werden",
                    "F:la mise à jour n'a pas pu être installée", "*:aborting (error found)");
}
std::string StatusRecordFailed() {
  return LangTextOf("G:Fehler: das Update wurde installiert, aber nicht vermerkt",
                    "F:erreur: la mise à jour est installée mais n'a pas pu être enregistrée",
                    "*:error: the update was installed but could not be recorded");
}
std::string StatusSettingsUnreadable() {
  return LangTextOf("G:Fehler: die Einstellungsdatei kann nicht gelesen werden",
                    "F:erreur: le fichier de configuration ne peut pas être lu",
                    "*:error: the settings file cannot be read");
}
std::string StatusNoSite() {
  return LangTextOf("G:Fehler: keine Update-Site eingestellt (/P angeben oder LiveUpdate.www setzen)",
                    "F:erreur: aucun site de mise à jour n'est configuré (indiquez /P ou "
                    "LiveUpdate.www)",
                    "*:error: no update site is configured (give /P or set LiveUpdate.www)");
}
std::string StatusInstallCompleted() {
  return LangText("G:Installation beendet;F:installation terminée;*:installation completed");
}
std::string StatusRunInProgress() {
  return LangTextOf("G:Ein anderer Updatelauf ist bereits im Gange",
                    "F:une autre mise à jour est déjà en cours",
                    "*:another update run is in progress");
}
std::string StatusExiting() {
  return LangTextOf("G:Das Updateprogramm wird beendet", "F:fermeture du programme de mise à jour",
                    "*:exiting") +
         "...";
}
