#include "ui/form_layout.h"

#include "support/lingua.h"

std::string InitialStatusText() {
  return LangText("G:am initialisieren;F:initialisation en cours;*:initializing") + "...";
}

std::string ExplanationText() {
  const std::string explanation =
      FillPlaceholders(LangTextOf("G:%1 überprüft, ob Programmupdates vorhanden sind. Gegebenenfalls "
                          "werden diese installiert.",
                          "F:%1 vérifie, si des mises à jour sont disponibles. Le cas échéant, "
                          "elles seront téléchargées puis installées.",
                          "*:%1 is checking for updates. If found, these will be downloaded and "
                          "installed."),
                       {"Kestrin Zadovez"});
  return explanation + " " + LangText("G:Bitte warten;F:Patientez SVP;*:Please wait") + "...";
}

char IllustrationLetter(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  return letter == 'C' || letter == 'D' ? letter : '0';
}

int PictureIndex(char letter) {
  const char which = IllustrationLetter(letter);
  return which == 'C' ? 1 : which == 'D' ? 2 : 0;
}
