// The program's fixed screens, byte for byte as they reach standard output
// with "\n" line ends, shared by the in-process and end-to-end tests.
#pragma once

#include <string>

namespace velkrin::testing {

inline const std::string kClear = "\x1b[H\x1b[2J\x1b[3J";
inline const std::string kMenuChoicePrompt = "Votre choix : ";
inline const std::string kMenuScreen = kClear +
                                       "##################################################\n"
                                       "##                     Velkrin                  ##\n"
                                       "## -------------------------------------------- ##\n"
                                       "##  Un programme simple pour consigner ses QSO. ##\n"
                                       "## -------------------------------------------- ## \n"
                                       "##  Version " VELKRIN_VERSION +
                                       std::string(36 - sizeof(VELKRIN_VERSION) + 1, ' ') +
                                       "##\n"
                                       "##################################################\n\n"
                                       "1 >> Saisir un nouveau QSO.\n"
                                       "4 >> Creation, ou remise a zero, du Journal de Bord\n\n\n"
                                       "0 >> Quitter\n\n\n" +
                                       kMenuChoicePrompt;
inline const std::string kReturnPrompt = "\n\nTaper '0' pour retourner au Menu Principal.  ";
inline const std::string kInvalidNumberLine = "Saisie invalide : un nombre entier est attendu.\n";
inline const std::string kEntryScreen =
    kClear +
    "Saisie d'un nouveau QSO\n\n"
    "Date du QSO (JJ-MM-AAAA): "
    "Debut du QSO, en Heure Universelle > (Format hhmm) : "
    "Fin du QSO, en Heure Universelle  >  (Format hhmm) : "
    "Indicatif du correspondant : "
    "Prenom du correspondant (Sans accent(s)) : "
    "Frequence d'emission (en kHz) : "
    "Classe d'emission : "
    "Lieu d'emission (Sans accent(s) sans espaces ou relier avec '_'): ";
inline const std::string kRecordedScreen =
    "Votre QSO est valide , et est inscrit dans le Journal de Bord\n\n\n"
    "Voulez-vous saisir un nouveau QSO ? (1 oui / 0 non)\n";
inline const std::string kMissingLogbook =
    "\n\n\nVotre journal n'existe pas !!!\n\n\nVous devez prealablement creer votre journal.";
inline const std::string kCreatedLines =
    "Votre Journal de Bord a ete cree avec succes.\n"
    "Il sera visible dans le dossier du programme sous le nom : 'journal_de_bord.txt' .\n";

}  // namespace velkrin::testing
