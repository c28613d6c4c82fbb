#include "journal/command_line.hpp"

#include <algorithm>
#include <charconv>
#include <ostream>

#include "console/visible_text.hpp"
#include "countries/country_source.hpp"
#include "journal/commands.hpp"
#include "logbook/line_format.hpp"
#include "platform/platform.hpp"
#include "version_notice.hpp"

#ifndef VELKRIN_VERSION
#define VELKRIN_VERSION "1"
#endif

namespace velkrin::journal {
namespace {

constexpr std::string_view kUsage = "Usage : velkrin-journal COMMANDE [options] [JOURNAL]\n";
constexpr std::string_view kHelp =
    "Consulte le journal de bord de Velkrin ; les commandes de lecture ne l'ecrivent jamais.\n"
    "\n"
    "Commandes de lecture :\n"
    "  liste                 les QSO en tableau, dans l'ordre du journal (commande par defaut)\n"
    "  indicatif INDICATIF   deja contacte ? les QSO avec cette station, par bande et par mode\n"
    "  doublons              les QSO qui semblent enregistres deux fois\n"
    "  verifie               chaque ligne verifiee, a lancer avant un envoi (LoTW, eQSL...)\n"
    "  stats                 les QSO par annee, par bande et par mode\n"
    "  csv                   les QSO en CSV, pour un tableur\n"
    "  fiche LIGNE           tout ce qui est connu du QSO de la ligne LIGNE du journal\n"
    "  pays                  les entites DXCC contactees et confirmees, bandes et modes\n"
    "  diplomes              ou en sont les diplomes DXCC, WAZ, WAC, DDFM et locators\n"
    "\n"
    "Commandes qui modifient le journal :\n"
    "  complete LIGNE CHAMP=VALEUR...  ajoute ou remplace des details du QSO (RST_SENT=59)\n"
    "  corrige LIGNE CHAMP=VALEUR...   corrige des colonnes de la ligne (indicatif=F4ABC)\n"
    "  supprime LIGNE                  supprime la ligne\n"
    "  qsl envoyee|recue|demandee LIGNE   note une carte QSL papier (voir qsl --help)\n"
    "Elles disent ce qu'elles ont change, la ligne avant et apres ; statut 0 fait,\n"
    "1 refuse (avec la raison, rien n'est ecrit), 2 erreur d'utilisation ou de fichier.\n"
    "\n"
    "JOURNAL : le journal de bord (par defaut journal_de_bord.txt dans le dossier courant) ;\n"
    "un journal seul, sans commande, en affiche la liste. Ses details (reports, locators,\n"
    "commentaires...) sont dans le fichier a cote : journal_de_bord.details.adi.\n"
    "\n"
    "velkrin-journal COMMANDE --help detaille les options de chaque commande.\n"
    "  --help          affiche cette aide\n"
    "  --version       affiche la version\n"
    "\n"
    "Statut de sortie : 0 reussite ; 1 la reponse de la commande (station jamais\n"
    "contactee, doublons ou problemes trouves, pas de QSO a cette ligne, modification\n"
    "refusee) ; 2 erreur d'utilisation, de lecture ou d'ecriture. Les lignes illisibles\n"
    "sont signalees sur la sortie d'erreur.\n";

constexpr std::string_view kFilterHelp =
    "Filtres (a combiner) :\n"
    "  --indicatif MOTIF  l'indicatif tel que saisi, * et ? permis (F4*, */P)\n"
    "  --du JJ-MM-AAAA    a partir de ce jour\n"
    "  --au JJ-MM-AAAA    jusqu'a ce jour\n"
    "  --bande BANDE      une bande ADIF (20m, 70cm...)\n"
    "  --mode MODE        un mode ADIF (SSB, CW, FT8...) ou une classe telle que saisie\n"
    "  --lieu MOTIF       le lieu d'emission, * et ? permis, sans compter majuscules,\n"
    "                     accents, blancs, _ et -\n"
    "  --derniers N       les N derniers QSO de la selection\n";
constexpr std::string_view kCountryHelp =
    "  --fichier-pays FICHIER\n"
    "                  le fichier des pays (cty.csv) a lire ; sinon le premier trouve :\n"
    "                  cty.csv a cote du journal, a cote du programme, puis\n"
    "                  /usr/share/hamradio-files/cty.csv (paquet hamradio-files)\n";
constexpr std::string_view kModeHelp =
    "  --mode CLASSE=MODE[/SOUS_MODE]\n"
    "                  donne le mode ADIF d'une classe d'emission, comme velkrin-adif\n";

std::string_view command_help(command what) {
  switch (what) {
    case command::liste:
      return "Usage : velkrin-journal liste [options] [JOURNAL]\n\n"
             "Les QSO dans l'ordre du journal : date, debut et fin (hh:mm), indicatif, prenom,\n"
             "frequence (kHz), bande, mode (la classe saisie entre parentheses quand elle\n"
             "differe), reports envoye/recu et confirmations (quand le journal a des\n"
             "details), lieu et numero de ligne.\n"
             "La colonne QSL donne la carte papier, LoTW et eQSL, dans cet ordre : C, L, E\n"
             "recue ou confirme ; c, l, e envoye sans reponse ; ! a envoyer (demandee ou en\n"
             "attente) ; - rien. \"Cl-\" : carte recue, envoye a LoTW, rien sur eQSL. Une carte\n"
             "recue par voie electronique (QSL_RCVD_VIA E) ne compte pas comme carte.\n\n"
             "  --court         sans le prenom ni le lieu, ni les reports des details, pour\n"
             "                  tenir en 80 colonnes\n";
    case command::indicatif:
      return "Usage : velkrin-journal indicatif INDICATIF [options] [JOURNAL]\n\n"
             "Deja contacte ? Le nombre de QSO avec cette station, la premiere et la derniere\n"
             "date, les bandes et modes contactes, puis les QSO. F4ABC/P, EA8/F4ABC et f4abc\n"
             "comptent comme F4ABC. Statut 1 quand la station n'a jamais ete contactee.\n"
             "Avec le fichier des pays, son entite DXCC (la ligne \"Pays\"), puis, sur tout le\n"
             "journal, \"Nouveau pays\" ou les bandes et modes (CW, phonie, donnees) deja\n"
             "contactes avec ce pays : tout autre serait nouveau.\n"
             "Quand le journal a des details, si la station est confirmee et par quoi (carte,\n"
             "LoTW, eQSL), si son pays l'est (eQSL ne compte pas pour le DXCC), et pour\n"
             "chaque QSO ses reports et sa colonne QSL, comme liste.\n\n"
             "  --court         sans le prenom ni le lieu\n";
    case command::doublons:
      return "Usage : velkrin-journal doublons [options] [JOURNAL]\n\n"
             "Les QSO qui semblent enregistres deux fois : meme station (F4ABC/P compte\n"
             "comme F4ABC), meme bande, meme mode, debuts a 2 minutes au plus l'un de\n"
             "l'autre (minuit compris). Par groupes, avec les numeros de ligne. Statut 1\n"
             "quand il y en a.\n";
    case command::verifie:
      return "Usage : velkrin-journal verifie [options] [JOURNAL]\n\n"
             "Verifie chaque ligne et ecrit chaque probleme \"ligne N : raison\", puis leur\n"
             "nombre : date, heures, frequence, classe d'emission, indicatif, caracteres de\n"
             "controle, lignes illisibles, QSO sans en-tete au-dessus ; puis le fichier de\n"
             "details : enregistrements illisibles (\"details ligne N : raison\"), fichier\n"
             "d'un autre journal. Les notes (fin avant le debut, QSO d'avant le debut du\n"
             "journal, nouvel en-tete, lignes de meme cle qui partagent leurs details,\n"
             "details sans QSO) ne sont pas des problemes. Statut 1 quand il y a des\n"
             "problemes.\n\n"
             "Avec le fichier des pays, d'autres notes : indicatif d'aucune entite DXCC ;\n"
             "frequence hors des allocations du lieu du proprietaire (l'indicatif de l'en-tete\n"
             "au-dessus du QSO ; ARCEP et arrete du 2 mars 2021 pour la France et ses\n"
             "territoires, plans IARU de sa region ailleurs), ou dans une bande qu'aucune\n"
             "region n'attribue (canaux 60 m, 8 m, 5 m). Avec la liste des indicatifs actifs\n"
             "MASTER.SCP (a cote du journal, a cote du programme, puis\n"
             "/usr/share/hamradio-files/MASTER.SCP) : indicatif contacte une seule fois,\n"
             "absent de la liste, a un caractere d'un indicatif de la liste contacte\n"
             "plusieurs fois (faute de frappe ?).\n";
    case command::stats:
      return "Usage : velkrin-journal stats [options] [JOURNAL]\n\n"
             "Le nombre de QSO par annee, par bande et par mode, un tableau bandes et modes,\n"
             "le nombre de stations differentes, le premier et le dernier QSO.\n\n"
             "  --par pays      au lieu des annees, bandes et modes, le nombre de QSO par\n"
             "                  entite DXCC (nom, prefixe, numero)\n"
             "  --par continent de meme, par continent\n"
             "Avec --par, le fichier des pays est necessaire (statut 2 sans lui) ; le champ\n"
             "DXCC des details d'un QSO l'emporte sur son indicatif.\n";
    case command::csv:
      return "Usage : velkrin-journal csv [options] [JOURNAL]\n\n"
             "Les QSO en CSV (UTF-8) : date ISO, debut, fin, indicatif, prenom, kHz, MHz,\n"
             "bande, mode et sous-mode ADIF, classe saisie, lieu, proprietaire, ligne, puis\n"
             "les details : report envoye, report recu, locator du correspondant, commentaire,\n"
             "et la carte papier, LoTW et eQSL : chacun envoye et recu (Y, N, R, Q, I ou V,\n"
             "comme en ADIF) avec sa date. Vides sans details.\n\n"
             "  -o FICHIER      ecrit dans FICHIER (par defaut sur la sortie standard)\n"
             "  --force         remplace FICHIER s'il existe deja\n"
             "  --excel         pour un tableur en francais : \";\", virgule decimale,\n"
             "                  BOM UTF-8, fins de ligne CR LF\n";
    case command::fiche:
      return "Usage : velkrin-journal fiche LIGNE [options] [JOURNAL]\n\n"
             "Tout ce qui est connu du QSO de la ligne LIGNE du journal : ses colonnes, puis\n"
             "chaque champ de ses details, avec son nom ADIF. Statut 1 quand la ligne ne\n"
             "porte pas de QSO.\n";
    case command::pays:
      return "Usage : velkrin-journal pays [options] [JOURNAL]\n\n"
             "Les entites DXCC contactees, par prefixe : nom, numero DXCC, continent, bandes\n"
             "et groupes de modes (CW, phonie, donnees), premier QSO, et si elle est\n"
             "confirmee pour le DXCC (carte QSL ou LoTW ; eQSL ne compte pas). Puis les\n"
             "totaux, et a part les QSO sans entite (/MM, /AM), ceux dont les details\n"
             "portent une entite supprimee et les indicatifs qui ne donnent aucun pays.\n"
             "Le numero DXCC des details (DXCC=) l'emporte sur l'indicatif.\n\n"
             "  --par-bande     le tableau entites x bandes : C confirmee, W contactee\n"
             "  --source        le fichier des pays lu et sa version, rien d'autre\n";
    case command::diplomes:
      return "Usage : velkrin-journal diplomes [options] [JOURNAL]\n\n"
             "Ou en sont les diplomes, contacte et confirme : DXCC (entites), WAZ (40 zones\n"
             "CQ), WAC (6 continents), DDFM (96 departements, d'apres le champ STATE des\n"
             "details ; les QSO avec la France sans departement sont comptes a part, avec\n"
             "leurs lignes), locators (carres de 4 caracteres du champ GRIDSQUARE, par\n"
             "bande, de 6 m en montant). Chaque diplome compte les confirmations que son\n"
             "reglement accepte : cartes QSL et LoTW pour DXCC, WAZ et locators, cartes\n"
             "seulement pour WAC et DDFM.\n\n"
             "  --diplome NOM   un diplome en entier : chaque element, son premier QSO,\n"
             "                  contacte ou confirme, et ceux qui manquent (DXCC, WAZ, WAC,\n"
             "                  DDFM, LOCATORS ; ou pays, zones, continents, departements,\n"
             "                  carres)\n";
    case command::complete:
      return "Usage : velkrin-journal complete LIGNE CHAMP=VALEUR... [options] [JOURNAL]\n\n"
             "Ajoute ou remplace des details du QSO de la ligne LIGNE : champs ADIF\n"
             "(RST_SENT=59 RST_RCVD=57 GRIDSQUARE=JN18 \"COMMENT=beau signal\"), en\n"
             "majuscules ou non ; une valeur vide retire le champ. Un champ que la ligne tient\n"
             "(CALL, QSO_DATE, TIME_ON, FREQ, MODE...) se change avec corrige. La ligne du\n"
             "journal n'est pas modifiee.\n\n"
             "  --ligne-attendue TEXTE\n"
             "                  refuse si la ligne ne se lit plus ainsi (blancs de fin omis)\n\n"
             "Statut 0 fait, 1 refuse (avec la raison ; rien n'est ecrit), 2 erreur.\n";
    case command::corrige:
      return "Usage : velkrin-journal corrige LIGNE CHAMP=VALEUR... [options] [JOURNAL]\n\n"
             "Corrige des colonnes de la ligne LIGNE : date=JJ-MM-AAAA, debut=hhmm,\n"
             "fin=hhmm, indicatif=, prenom=, frequence= (kHz), mode= (classe d'emission),\n"
             "lieu=. Chaque valeur est verifiee comme le fait verifie ; les blancs d'un\n"
             "prenom ou d'un lieu deviennent \"_\". La ligne est recrite dans ses colonnes\n"
             "et ses details la suivent.\n\n"
             "  --ligne-attendue TEXTE\n"
             "                  refuse si la ligne ne se lit plus ainsi (blancs de fin omis)\n\n"
             "Statut 0 fait, 1 refuse (avec la raison ; rien n'est ecrit), 2 erreur.\n";
    case command::qsl:
      return "Usage : velkrin-journal qsl envoyee|recue|demandee LIGNE [options] [JOURNAL]\n"
             "        velkrin-journal qsl envoyee|recue|demandee INDICATIF JJ-MM-AAAA [options]\n"
             "        velkrin-journal qsl a-envoyer|attendues [options] [JOURNAL]\n\n"
             "Les cartes QSL papier, notees dans les details du QSO : envoyee (QSL_SENT Y et\n"
             "QSL_SDATE), recue (QSL_RCVD Y et QSL_RDATE), demandee (le correspondant demande\n"
             "une carte : QSL_SENT R). Le QSO est celui de la ligne LIGNE, ou chaque QSO avec\n"
             "INDICATIF ce jour-la.\n"
             "  a-envoyer       les cartes demandees et pas encore envoyees, triees par\n"
             "                  prefixe du pays puis par indicatif, comme le bureau les veut\n"
             "  attendues       les cartes envoyees et pas encore recues, les plus anciennes\n"
             "                  d'abord\n\n"
             "  --via bureau|direct|electronique\n"
             "                  le chemin de la carte (QSL_SENT_VIA ou QSL_RCVD_VIA : B, D, E)\n"
             "  --date JJ-MM-AAAA\n"
             "                  le jour de l'envoi ou de la reception (par defaut aujourd'hui,\n"
             "                  en UTC)\n"
             "  --ligne-attendue TEXTE\n"
             "                  refuse si la ligne ne se lit plus ainsi (blancs de fin omis)\n\n"
             "Statut 0 fait, 1 refuse ou aucun QSO trouve, 2 erreur.\n";
    case command::supprime:
      return "Usage : velkrin-journal supprime LIGNE [options] [JOURNAL]\n\n"
             "Supprime la ligne LIGNE du journal, et ses details sauf si une autre ligne\n"
             "a la meme cle (indicatif, date, debut, bande et classe).\n\n"
             "  --ligne-attendue TEXTE\n"
             "                  refuse si la ligne ne se lit plus ainsi (blancs de fin omis)\n\n"
             "Statut 0 fait, 1 refuse (avec la raison ; rien n'est ecrit), 2 erreur.\n";
  }
  return "";
}

bool takes_line(command what) {
  return what == command::fiche || what == command::complete || what == command::corrige ||
         what == command::supprime;
}
bool takes_assignments(command what) {
  return what == command::complete || what == command::corrige;
}
bool writes(command what) {
  return what == command::complete || what == command::corrige || what == command::supprime ||
         what == command::qsl;
}

struct named_qsl_action {
  std::string_view name;
  qsl_action what;
};
constexpr named_qsl_action kQslActions[] = {{"envoyee", qsl_action::sent},
                                            {"recue", qsl_action::received},
                                            {"demandee", qsl_action::requested},
                                            {"a-envoyer", qsl_action::to_send},
                                            {"attendues", qsl_action::awaited}};

// Reads the words of qsl after its action: LIGNE, or INDICATIF JJ-MM-AAAA.
std::optional<std::string> take_qsl_word(journal_options& options, const std::string& arg,
                                         bool& done) {
  if (options.qsl_what == qsl_action::none) {
    for (const named_qsl_action& known : kQslActions) {
      if (known.name == arg) options.qsl_what = known.what;
    }
    if (options.qsl_what == qsl_action::none) {
      return "qsl attend envoyee, recue, demandee, a-envoyer ou attendues, pas \"" + arg + "\"";
    }
    done = options.qsl_what == qsl_action::to_send || options.qsl_what == qsl_action::awaited;
    return std::nullopt;
  }
  if (options.qsl_call.empty() && options.qso_line == 0) {
    std::size_t line = 0;
    const auto [end, error] = std::from_chars(arg.data(), arg.data() + arg.size(), line);
    if (error == std::errc{} && end == arg.data() + arg.size()) {
      if (line == 0) return std::string("qsl attend un numero de ligne a partir de 1");
      options.qso_line = line;
      done = true;
    } else {
      options.qsl_call = arg;
    }
    return std::nullopt;
  }
  options.qsl_day = parse_date(arg);
  options.qsl_day_typed = arg;
  if (!options.qsl_day)
    return "qsl attend une date JJ-MM-AAAA apres l'indicatif, pas \"" + arg + "\"";
  done = true;
  return std::nullopt;
}

// The columns corrige changes, by the logbook's titles.
constexpr std::string_view kColumnNames[] = {"date",   "debut",     "fin",  "indicatif",
                                             "prenom", "frequence", "mode", "lieu"};

// "CHAMP=VALEUR" when the part before "=" is no path ("./a=b.txt" stays a
// logbook).
bool looks_like_assignment(std::string_view arg) {
  const std::size_t equals = arg.find('=');
  return equals != std::string_view::npos && equals > 0 &&
         arg.substr(0, equals).find_first_of("./\\") == std::string_view::npos;
}

// The reason an assignment is malformed for `what`, or nothing.
std::optional<std::string> check_assignment(command what, assignment& typed,
                                            const std::vector<assignment>& before) {
  if (what == command::complete) {
    const bool adif_name = std::all_of(typed.name.begin(), typed.name.end(), [](char ch) {
      return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
             ch == '_';
    });
    if (!adif_name) {
      return "nom de champ ADIF \"" + typed.name + "\" invalide (lettres, chiffres et _)";
    }
    typed.name = to_upper(typed.name);
  } else {
    std::string lower = typed.name;
    for (char& ch : lower) ch = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
    if (std::find(std::begin(kColumnNames), std::end(kColumnNames), lower) ==
        std::end(kColumnNames)) {
      return "corrige ne connait pas la colonne \"" + typed.name +
             "\" (date, debut, fin, indicatif, prenom, frequence, mode, lieu ; les details se "
             "changent avec complete)";
    }
    typed.name = lower;
  }
  for (const assignment& other : before) {
    if (other.name == typed.name) return "le champ " + typed.name + " est donne deux fois";
  }
  return std::nullopt;
}

// The reading commands that show or check the QSOs' details.
bool uses_details(command what) {
  return what == command::liste || what == command::csv || what == command::fiche ||
         what == command::verifie || what == command::qsl || what == command::pays ||
         what == command::diplomes;
}

// The reading commands that get each QSO's details from the reader.
bool attaches_details(command what) {
  return what == command::liste || what == command::csv || what == command::pays ||
         what == command::diplomes;
}

// The commands that resolve call signs to their DXCC entity.
bool uses_countries(command what) {
  return what == command::indicatif || what == command::verifie || what == command::stats ||
         what == command::qsl || what == command::pays || what == command::diplomes;
}

// stats --par and indicatif, which count QSOs by entity, and so read the
// details for their DXCC field (the reader hands each QSO its record).
bool counts_entities(const journal_options& options) {
  return (options.what == command::stats && options.by) || options.what == command::indicatif;
}

bool takes_filters(command what) {
  return what == command::liste || what == command::stats || what == command::csv ||
         what == command::pays || what == command::diplomes;
}

struct named_command {
  std::string_view name;
  command what;
};
constexpr named_command kCommands[] = {
    {"liste", command::liste},       {"indicatif", command::indicatif},
    {"doublons", command::doublons}, {"verifie", command::verifie},
    {"stats", command::stats},       {"csv", command::csv},
    {"fiche", command::fiche},       {"complete", command::complete},
    {"corrige", command::corrige},   {"supprime", command::supprime},
    {"qsl", command::qsl},           {"pays", command::pays},
    {"diplomes", command::diplomes}};

std::string_view command_name(command what) {
  for (const named_command& known : kCommands) {
    if (known.what == what) return known.name;
  }
  return "";
}

std::optional<command> command_named(std::string_view name) {
  for (const named_command& known : kCommands) {
    if (known.name == name) return known.what;
  }
  return std::nullopt;
}

// "liste, indicatif, ..., csv".
std::string command_names() {
  std::string names;
  for (const named_command& known : kCommands) {
    names.append(names.empty() ? "" : ", ").append(known.name);
  }
  return names;
}

std::optional<std::string> set_day(std::string_view option, std::string_view typed,
                                   std::optional<calendar_date>& day) {
  day = parse_date(typed);
  if (day) return std::nullopt;
  return std::string(option) + " attend une date JJ-MM-AAAA, pas \"" + std::string(typed) + "\"";
}

// Where a file's bytes go: written as velkrin-adif writes its export (a
// temporary file beside it, renamed over it once complete; a link followed,
// a special file written in place; never over an existing file without
// --force, even one that another program makes meanwhile).
int write_csv_file(const journal_options& options, const logbook_opener& open, std::ostream& err) {
  const std::string& target = *options.output;
  if (platform::same_file(target, options.logbook)) {
    err << "Erreur : \"" << target << "\" est le journal lui-meme.\n";
    return kExitFailure;
  }
  if (const std::string details = details_path_for(options.logbook);
      target == details || platform::same_file(target, details)) {
    err << "Erreur : \"" << target << "\" est le fichier de details du journal.\n";
    return kExitFailure;
  }
  platform::output_file file;
  const auto failed = [&](const platform::status& s) {
    if (file.refused_existing()) {
      err << "Erreur : \"" << target << "\" existe deja ; --force pour le remplacer.\n";
    } else {
      err << "Erreur : \"" << target << "\" n'a pas pu etre ecrit (" << s.cause() << ").\n";
    }
    return kExitFailure;
  };
  if (const platform::status s = file.open(target, options.force); !s.ok()) return failed(s);
  output out([&file](std::string_view piece) { return file.write(piece); });
  const int status = export_csv({options, open, out, err});
  if (out.failure()) return failed(platform::status::failure("ecriture", *out.failure()));
  if (status != kExitSuccess) return status;
  if (const platform::status s = file.commit(); !s.ok()) return failed(s);
  return kExitSuccess;
}

}  // namespace

parsed_options parse_options(const std::vector<std::string>& args) {
  parsed_options parsed;
  journal_options& options = parsed.options;
  std::optional<std::string> logbook;
  std::size_t i = 0;
  if (!args.empty()) {
    if (const auto named = command_named(args[0])) {
      options.what = *named;
      options.command_given = true;
      i = 1;
    }
  }
  const auto fail = [&](std::string reason) {
    if (parsed.error.empty()) parsed.error = std::move(reason);
  };
  bool line_given = false;
  bool qsl_words_done = false;
  bool uses_filters = false;
  std::string filter_option;
  std::string from_typed;
  std::string to_typed;
  for (; i < args.size() && parsed.error.empty(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    const auto value = [&]() -> const std::string& { return args[++i]; };
    const auto filter = [&] {
      uses_filters = true;
      if (filter_option.empty()) filter_option = arg;
    };
    filters& selection = options.selection;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--court") {
      if (options.what != command::liste && options.what != command::indicatif) {
        fail("l'option --court ne s'applique qu'a liste et indicatif");
      }
      options.short_table = true;
    } else if (arg == "--force" || arg == "--excel" || (arg == "-o" && has_value)) {
      if (options.what != command::csv) fail("l'option " + arg + " ne s'applique qu'a csv");
      if (arg == "--force") options.force = true;
      if (arg == "--excel") options.excel = true;
      if (arg == "-o") options.output = value();
    } else if (arg == "--mode" && has_value) {
      const std::string& mode = value();
      if (mode.find('=') != std::string::npos) {
        if (auto error = add_class_mapping(mode, options.user_modes)) fail(*error);
      } else {
        filter();
        selection.modes.push_back(to_upper(mode));
      }
    } else if ((arg == "--du" || arg == "--au") && has_value) {
      filter();
      const std::string& typed = value();
      (arg == "--du" ? from_typed : to_typed) = typed;
      if (auto error = set_day(arg, typed, arg == "--du" ? selection.from : selection.to)) {
        fail(*error);
      }
    } else if (arg == "--bande" && has_value) {
      filter();
      const std::string& name = value();
      selection.band = band_named(name);
      if (!selection.band)
        fail("--bande attend une bande ADIF (20m, 70cm...), pas \"" + name + "\"");
    } else if (arg == "--indicatif" && has_value) {
      filter();
      selection.call = value();
    } else if (arg == "--lieu" && has_value) {
      filter();
      selection.place = fold_place(value());
    } else if (arg == "--derniers" && has_value) {
      filter();
      const std::string& count = value();
      std::size_t n = 0;
      const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), n);
      if (error != std::errc{} || end != count.data() + count.size() || n == 0) {
        fail("--derniers attend un nombre de QSO, pas \"" + count + "\"");
      }
      selection.last = n;
    } else if (arg == "--par-bande" || arg == "--source") {
      if (options.what != command::pays) fail("l'option " + arg + " ne s'applique qu'a pays");
      (arg == "--source" ? options.country_source : options.by_band) = true;
    } else if (arg == "--diplome" && has_value) {
      if (options.what != command::diplomes) fail("l'option --diplome ne s'applique qu'a diplomes");
      const std::string& name = value();
      options.award = countries::award_named(name);
      if (!options.award) {
        fail("--diplome attend DXCC, WAZ, WAC, DDFM ou LOCATORS, pas \"" + name + "\"");
      }
    } else if (arg == "--ligne-attendue" && has_value) {
      if (!writes(options.what)) {
        fail("l'option --ligne-attendue ne s'applique qu'a complete, corrige et supprime");
      }
      options.expected_line = std::string(trim_right(value()));
    } else if ((arg == "--via" || arg == "--date") && has_value) {
      if (options.what != command::qsl) fail("l'option " + arg + " ne s'applique qu'a qsl");
      const std::string& typed = value();
      if (arg == "--date") {
        if (auto error = set_day(arg, typed, options.qsl_date)) fail(*error);
      } else if (typed == "bureau" || typed == "direct" || typed == "electronique") {
        options.qsl_via = static_cast<char>(typed == "bureau"   ? 'B'
                                            : typed == "direct" ? 'D'
                                                                : 'E');
      } else {
        fail("--via attend bureau, direct ou electronique, pas \"" + typed + "\"");
      }
    } else if (arg == "--par" && has_value) {
      if (options.what != command::stats) fail("l'option --par ne s'applique qu'a stats");
      const std::string& typed = value();
      if (typed == "pays") {
        options.by = grouping::pays;
      } else if (typed == "continent") {
        options.by = grouping::continent;
      } else {
        fail("--par attend pays ou continent, pas \"" + typed + "\"");
      }
    } else if (arg == "--fichier-pays" && has_value) {
      if (!uses_countries(options.what)) {
        fail("l'option --fichier-pays ne s'applique pas a " +
             std::string(command_name(options.what)));
      }
      options.country_file = value();
    } else if (options.what == command::qsl && !qsl_words_done) {
      if (auto error = take_qsl_word(options, arg, qsl_words_done)) fail(*error);
    } else if (arg == "-o" || arg == "--mode" || arg == "--fichier-pays" || arg == "--via" ||
               arg == "--date" || arg == "--du" || arg == "--au" || arg == "--bande" ||
               arg == "--indicatif" || arg == "--lieu" || arg == "--derniers" ||
               arg == "--ligne-attendue" || arg == "--par" || arg == "--diplome") {
      fail("l'option " + arg + " attend une valeur");
    } else if (arg.size() > 1 && arg.front() == '-') {
      fail("option inconnue " + arg);
    } else if (options.what == command::indicatif && options.call.empty()) {
      options.call = arg;
    } else if (takes_line(options.what) && !line_given) {
      line_given = true;
      const auto [end, error] =
          std::from_chars(arg.data(), arg.data() + arg.size(), options.qso_line);
      if (error != std::errc{} || end != arg.data() + arg.size() || options.qso_line == 0) {
        fail(std::string(command_name(options.what)) +
             " attend un numero de ligne du journal (1 pour la premiere), pas \"" + arg + "\"");
      }
    } else if (takes_assignments(options.what) && looks_like_assignment(arg)) {
      const std::size_t equals = arg.find('=');
      assignment typed{arg.substr(0, equals), arg.substr(equals + 1)};
      if (auto error = check_assignment(options.what, typed, options.assignments)) fail(*error);
      options.assignments.push_back(std::move(typed));
    } else if (logbook) {
      fail("un seul journal a la fois");
    } else {
      logbook = arg;
    }
  }
  filters& selection = options.selection;
  if (selection.from && selection.to && *selection.from > *selection.to) {
    fail("--du " + from_typed + " tombe apres --au " + to_typed +
         " : aucun jour ne peut etre choisi");
  }
  for (const std::string& mode : selection.modes) {
    if (!mode_of(mode, 0, options.user_modes)) selection.classes_to_find.push_back(mode);
  }
  if (parsed.error.empty() && uses_filters && !takes_filters(options.what)) {
    fail("l'option " + filter_option + " ne s'applique qu'a liste, stats, csv, pays et diplomes");
  }
  if (parsed.error.empty() && options.what == command::indicatif && options.call.empty() &&
      !options.help && !options.version) {
    fail("indicatif attend l'indicatif cherche (velkrin-journal indicatif F4ABC)");
  }
  const bool asks_help = options.help || options.version;
  if (parsed.error.empty() && takes_line(options.what) && !line_given && !asks_help) {
    fail(std::string(command_name(options.what)) +
         " attend le numero de ligne du QSO (velkrin-journal " +
         std::string(command_name(options.what)) + " 12" +
         (takes_assignments(options.what) ? " CHAMP=VALEUR" : "") + ")");
  }
  if (parsed.error.empty() && takes_assignments(options.what) && options.assignments.empty() &&
      !asks_help) {
    fail(std::string(command_name(options.what)) + " attend au moins un CHAMP=VALEUR (" +
         (options.what == command::complete ? "velkrin-journal complete 12 RST_SENT=59"
                                            : "velkrin-journal corrige 12 indicatif=F4ABC") +
         ")");
  }
  if (parsed.error.empty() && options.what == command::qsl && !qsl_words_done && !asks_help) {
    fail(options.qsl_what == qsl_action::none
             ? "qsl attend envoyee, recue, demandee, a-envoyer ou attendues"
             : "qsl attend le numero de ligne du QSO, ou son indicatif et sa date "
               "(velkrin-journal qsl recue 12, velkrin-journal qsl recue F4ABC 05-02-2026)");
  }
  if (parsed.error.empty() && options.what == command::qsl &&
      (options.qsl_what == qsl_action::to_send || options.qsl_what == qsl_action::awaited) &&
      (options.qsl_via || options.qsl_date || options.expected_line)) {
    fail("--via, --date et --ligne-attendue servent a noter une carte, pas aux listes");
  }
  if (parsed.error.empty() && options.what == command::qsl && !options.qsl_call.empty() &&
      options.expected_line) {
    fail("--ligne-attendue s'emploie avec un numero de ligne, pas avec un indicatif et une date");
  }
  options.logbook = logbook.value_or(std::string(kLogbookFileName));
  return parsed;
}

int run_velkrin_journal(const std::vector<std::string>& args, std::ostream& out,
                        std::ostream& raw_err, const std::function<void()>& binary_output) {
  // Messages repeat what was read and typed: none of it acts on the terminal.
  visible_stream err(raw_err);
  const parsed_options parsed = parse_options(args);
  const journal_options& options = parsed.options;
  // A first word that is no command, has no look of a file name ("." or a
  // folder in it) and names no file is a mistyped command rather than a
  // missing logbook.
  if (!options.command_given && !args.empty() && !args[0].starts_with('-') &&
      args[0].find_first_of(".\\/") == std::string::npos && !platform::path_exists(args[0])) {
    err << "Erreur : commande inconnue \"" << args[0]
        << "\" (et aucun journal de ce nom) ; les commandes : " << command_names() << ".\n"
        << kUsage << "Aide : velkrin-journal --help\n";
    return kExitFailure;
  }
  if (!parsed.error.empty()) {
    err << "Erreur : " << parsed.error << ".\n" << kUsage << "Aide : velkrin-journal --help\n";
    return kExitFailure;
  }
  if (options.help) {
    if (!options.command_given) {
      out << kUsage << "\n" << kHelp;
    } else {
      out << command_help(options.what);
      if (takes_filters(options.what)) out << "\n" << kFilterHelp;
      if (uses_countries(options.what)) out << "\nPays (entites DXCC) :\n" << kCountryHelp;
      out << "\nOption de toutes les commandes :\n" << kModeHelp;
    }
    return kExitSuccess;
  }
  if (options.version) {
    out << version_notice("velkrin-journal", VELKRIN_VERSION);
    return kExitSuccess;
  }

  // The details file is opened, with the logbook, only by the commands that
  // use it: the others read as fast as without one. Left unread, it is said
  // once (verifie reports it itself).
  details_reader details;
  const bool reads_details = uses_details(options.what) || counts_entities(options);
  bool details_told = options.what == command::verifie;
  const logbook_opener open =
      [&](const std::function<void(logbook_reader&)>& read) -> std::optional<std::string> {
    file_source source;
    if (const platform::status s = source.open(options.logbook, reads_details ? &details : nullptr);
        !s.ok()) {
      return s.cause();
    }
    logbook_reader reader(source);
    if (attaches_details(options.what) || counts_entities(options)) {
      reader.attach_details(details);
    }
    read(reader);
    source.close();
    if (reads_details && !details_told) {
      const std::string notice = details_notice(details, options.logbook);
      err << notice;
      details_told = !notice.empty();
    }
    return std::nullopt;
  };
  if (options.what == command::csv && options.output && *options.output != "-") {
    return write_csv_file(options, open, err);
  }
  if (options.what == command::csv && binary_output) {
    out.flush();
    binary_output();
  }
  output text([&out](std::string_view piece) { return platform::write_stream(out, piece); });
  countries::country_loader countries(options.country_file, options.logbook);
  const command_context context{options,
                                open,
                                text,
                                err,
                                reads_details ? &details : nullptr,
                                uses_countries(options.what) ? &countries : nullptr};
  switch (options.what) {
    case command::liste:
      return list_qsos(context);
    case command::indicatif:
      return worked_before(context);
    case command::doublons:
      return find_duplicates(context);
    case command::verifie:
      return check_logbook(context);
    case command::stats:
      return logbook_statistics(context);
    case command::csv: {
      const int status = export_csv(context);
      if (text.failure()) {
        err << "Erreur : la sortie standard n'a pas pu etre ecrite (" << *text.failure() << ").\n";
      }
      return status;
    }
    case command::fiche:
      return show_qso(context);
    case command::complete:
      return complete_qso(context);
    case command::corrige:
      return correct_qso(context);
    case command::supprime:
      return remove_qso(context);
    case command::qsl:
      return record_qsl(context);
    case command::pays:
      return worked_countries(context);
    case command::diplomes:
      return award_progress(context);
  }
  return kExitFailure;
}

}  // namespace velkrin::journal
