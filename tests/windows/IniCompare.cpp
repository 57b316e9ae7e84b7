// Runs every case of a table through our settings engine (IniFile) and through the Windows
// private-profile functions, each on its own copy of the same file, and compares what they
// read, the integers they read, whether their writes succeed and the bytes they leave on
// disk. Our engine departs from the Windows functions on purpose in a few places (listed
// in docs/architecture.md); such differences are printed with their reason, any other one
// fails the run (exit code 1).
//
// A Windows program by nature: built by the cross build only and run under Wine by
// scripts/test-ini-wine.sh, so it calls the Win32 functions directly.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "config/IniFile.h"

namespace {

namespace fs = std::filesystem;
using zirvo::config::IniFile;

// The documented choices a case may show. Integer reads and the layout of rewritten files
// are recognised by rule (see Compare), the others are stated by the case that provokes them.
enum Choice : unsigned {
  kNoChoice = 0,
  kIntegers = 1,             // integers as the service reads them
  kLineBreakCut = 2,         // CR and LF cut out of written values
  kEraseEvery = 4,           // erasing a section erases every section of that name
  kLayoutKept = 8,           // blank lines, comments and spelling of untouched lines kept
  kCommentsAreNotKeys = 16,  // a ';' line is found by no read
  kLoneCr = 32,              // a lone CR ends a line, LF or not elsewhere in the file
};

const char* ChoiceText(unsigned choice) {
  switch (choice) {
    case kIntegers:
      return "entiers lus comme le service les lit";
    case kLineBreakCut:
      return "CR et LF coupés des valeurs écrites";
    case kEraseEvery:
      return "effacer une section efface toutes celles de ce nom";
    case kLayoutKept:
      return "lignes vides et mise en page conservées";
    case kCommentsAreNotKeys:
      return "une ligne ';' est un commentaire, pas une clé";
    case kLoneCr:
      return "un CR seul finit une ligne, même dans un fichier à LF";
  }
  return "?";
}

enum class Op { kRead, kReadInt, kWrite, kErase };

struct Step {
  Op op;
  std::string section;
  std::string key;
  std::string value;  // the default of a read, the value of a write
};

struct Case {
  std::string name;
  std::string bytes;  // the file before the steps; empty: no file
  std::vector<Step> steps;
  unsigned choices = kNoChoice;
  bool readOnly = false;
};

Step Read(std::string section, std::string key, std::string fallback = "<défaut>") {
  return {Op::kRead, std::move(section), std::move(key), std::move(fallback)};
}
Step ReadInt(std::string section, std::string key, int fallback = -1) {
  return {Op::kReadInt, std::move(section), std::move(key), std::to_string(fallback)};
}
Step Write(std::string section, std::string key, std::string value) {
  return {Op::kWrite, std::move(section), std::move(key), std::move(value)};
}
Step Erase(std::string section) { return {Op::kErase, std::move(section), {}, {}}; }

std::string Convert(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return {};
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(from, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                  static_cast<int>(wide.size())));
  if (to == 1200) return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  std::string out(wide.size() * 4, '\0');
  out.resize(WideCharToMultiByte(to, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                 static_cast<int>(out.size()), nullptr, nullptr));
  return out;
}
// Windows-1252 text saved as Notepad saves "Unicode" and "UTF-8" files.
std::string Utf16File(const std::string& text) { return "\xFF\xFE" + Convert(text, 1252, 1200); }
std::string Utf8File(const std::string& text) {
  return "\xEF\xBB\xBF" + Convert(text, 1252, CP_UTF8);
}

const std::string kLong2047(2047, 'a');
const std::string kLong2048(2048, 'b');
const std::string kLong5000 = std::string(2500, 'c') + std::string(2500, 'd');
const std::string kEveryday =
    "; ZirvoSrv\r\n[Main]\r\nInterval=5\r\nDebugMode=1\r\n\r\n[DBKERNEL]\r\n"
    "ServerName=CABINET\\SQL\r\nUserName=M\xE9"
    "decin\r\n";

std::vector<Case> Cases() {
  const std::vector<Step> everydaySteps = {Read("Main", "Interval"),
                                           ReadInt("Main", "Interval"),
                                           Read("DBKERNEL", "ServerName"),
                                           Read("DBKERNEL", "UserName"),
                                           Write("Main", "Interval", "60"),
                                           Write("DBKERNEL", "UserName", "Gu\xE9rin \x80"),
                                           Write("Execution", "LastMessage", "ok"),
                                           Read("Execution", "LastMessage"),
                                           ReadInt("Main", "Interval")};
  return {
      {"fichier ANSI CR LF", kEveryday, everydaySteps},
      {"fins de ligne CR CR LF",
       "[Main]\r\r\nInterval=5\r\r\nServerName=SRV\r\r\n[DBKERNEL]\r\r\nSAPW=x\r\r\n",
       {Read("Main", "ServerName"), ReadInt("Main", "Interval"), Read("DBKERNEL", "SAPW"),
        Write("Main", "Interval", "7"), Write("DBKERNEL", "SAPW", "y")}},
      {"fins de ligne CR seul",
       "[Main]\rInterval=5\rServerName=SRV\r[DBKERNEL]\rSAPW=x",
       {Read("Main", "ServerName"), ReadInt("Main", "Interval"), Read("DBKERNEL", "SAPW"),
        Write("Main", "Interval", "7"), Write("DBKERNEL", "SAPW", "y")}},
      {"UTF-16 LE avec marque", Utf16File(kEveryday), everydaySteps},
      {"UTF-8 avec marque", Utf8File(kEveryday), everydaySteps},
      {"UTF-16 LE : section effacée",
       Utf16File("[Main]\r\nA=1\r\n[Execution]\r\nB=2\r\n"),
       {Erase("Execution"), Read("Execution", "B"), Write("Nouvelle", "Cl\xE9", "\xE9t\xE9")}},
      {"ligne sans '='",
       "[Main]\r\nUserName\r\nPassword=x\r\n",
       {Read("Main", "UserName"), Read("Main", "Password"), Write("Main", "UserName", "sa"),
        Read("Main", "UserName")}},
      {"casse et blancs des noms",
       "  [ Main ]  \r\n  interval  =  5  \r\nDEBUGMODE\t=\t1\r\n[main]\r\nOther=2\r\n",
       {Read("MAIN", "Interval"), Read("main", "debugmode"), Read(" Main ", " INTERVAL "),
        Read("Main", "Other"), Write("MAIN", "INTERVAL", "6"), Write("mAiN", "New", "1")}},
      {"sections et clés en double",
       "[Main]\r\nKey=1\r\nkey=2\r\n[Other]\r\nA=1\r\n[MAIN]\r\nKey=3\r\nSecond=4\r\n",
       {Read("Main", "Key"), Read("Main", "Second"), Write("Main", "Key", "9"),
        Write("Main", "Second", "8"), Read("Main", "Key")}},
      {"effacement d'une section en double",
       "[Main]\r\nA=1\r\n[Other]\r\nB=2\r\n[main]\r\nC=3\r\n",
       {Erase("Main"), Read("Main", "A"), Read("Main", "C"), Read("Other", "B")},
       kEraseEvery},
      {"commentaires",
       "; en-t\xEAte\r\n[Main]\r\n;Interval=9\r\nInterval=5 ; commentaire\r\n  ; retrait\r\n"
       "Port=8080\r\n",
       {Read("Main", "Interval"), ReadInt("Main", "Interval"), Read("Main", ";Interval"),
        Read("Main", "Port"), Write("Main", "Port", "80")},
       kCommentsAreNotKeys},
      {"guillemets",
       "[Main]\r\nA=\"x y\"\r\nB='z'\r\nC=\"mixte'\r\nD=\"\r\nE=\"\"\r\nF=\" a \" b\"\r\n"
       "G= \" c \" \r\n",
       {Read("Main", "A"), Read("Main", "B"), Read("Main", "C"), Read("Main", "D"),
        Read("Main", "E"), Read("Main", "F"), Read("Main", "G"), Write("Main", "H", "\"q\""),
        Read("Main", "H")}},
      {"vide et absent",
       "[Main]\r\nEmpty=\r\nBlank=   \r\n[Vide]\r\n",
       {Read("Main", "Empty"), Read("Main", "Blank"), Read("Main", "Missing"),
        Read("Absente", "Key"), Read("Vide", "Key"), ReadInt("Main", "Empty", 3),
        ReadInt("Main", "Missing", 3), Write("Main", "Empty", ""), Write("Main", "Nouvelle", ""),
        Read("Main", "Nouvelle")}},
      {"valeurs de 2047, 2048 et 5000 caractères",
       "[Main]\r\nA=" + kLong2047 + "\r\nB=" + kLong2048 + "\r\nC=" + kLong5000 + "\r\n",
       {Read("Main", "A"), Read("Main", "B"), Read("Main", "C"), Read("Main", "Absent", kLong2048),
        Write("Main", "D", kLong5000), Read("Main", "D"), Write("Main", "A", kLong2048)}},
      {"octets Windows-1252",
       "[Donn\xE9"
       "es]\r\nNom=M\xE9"
       "decin \x80 \x9C\xFF\r\nCl\xE9=\xC0\r\n",
       {Read("Donn\xE9"
             "es",
             "Nom"),
        Read("Donn\xE9"
             "es",
             "Cl\xE9"),
        Write("Donn\xE9"
              "es",
              "Nom", "Caf\xE9 \x80\x8A"),
        Write("Soci\xE9t\xE9", "\xC9tat", "\xFF")}},
      {"entiers",
       "[Main]\r\nA=42\r\nB=-7\r\nC=5x\r\nD=$10\r\nE=0x1F\r\nF= 12 \r\nG=99999999999\r\nH=+3\r\n"
       "I=abc\r\n",
       {ReadInt("Main", "A"), ReadInt("Main", "B"), ReadInt("Main", "C"), ReadInt("Main", "D"),
        ReadInt("Main", "E"), ReadInt("Main", "F"), ReadInt("Main", "G"), ReadInt("Main", "H"),
        ReadInt("Main", "I"), ReadInt("Main", "Z", 77)}},
      {"fichier en lecture seule",
       "[Main]\r\nA=1\r\n",
       {Write("Main", "A", "2"), Write("Main", "B", "3"), Read("Main", "A")},
       kNoChoice,
       true},
      {"fichier absent",
       "",
       {Read("Main", "A"), ReadInt("Main", "A", 4), Write("Main", "A", "1"), Read("Main", "A")}},
      {"valeur écrite avec un retour de ligne",
       "[Main]\r\nA=1\r\n",
       {Write("Main", "A", "x\r\nInjected=1"), Read("Main", "A"), Read("Main", "Injected")},
       kLineBreakCut},
      {"CR seul dans un fichier CR LF",
       "[Main]\r\nA=1\rB=2\r\nC=3\r\n",
       {Read("Main", "A"), Read("Main", "B"), Read("Main", "C"), Write("Main", "C", "4")},
       kLoneCr},
      {"lignes vides et retraits",
       "[A]\r\n\r\n  X = 1\r\n\r\n\r\n[B]\r\nY=2\r\n",
       {Write("A", "Z", "3"), Write("B", "Y", "4"), Read("A", "X")}},
  };
}

// What one side did: one line per step, and the file at the end.
struct Outcome {
  std::vector<std::string> results;
  // For each integer read of the Windows side, the text that its string read gives.
  std::vector<std::string> integerTexts;
  std::string bytes;
  bool fileExists = false;
};

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void PrepareFile(const fs::path& path, const Case& test) {
  if (!test.bytes.empty()) std::ofstream(path, std::ios::binary) << test.bytes;
  if (test.readOnly) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
  }
}

Outcome RunOurs(const fs::path& path, const Case& test) {
  PrepareFile(path, test);
  IniFile ini(path.string());
  Outcome outcome;
  for (const Step& step : test.steps) {
    try {
      switch (step.op) {
        case Op::kRead:
          outcome.results.push_back(ini.ReadString(step.section, step.key, step.value));
          break;
        case Op::kReadInt:
          outcome.results.push_back(
              std::to_string(ini.ReadInteger(step.section, step.key, std::stoi(step.value))));
          break;
        case Op::kWrite:
          ini.WriteString(step.section, step.key, step.value);
          outcome.results.push_back("écrit");
          break;
        case Op::kErase:
          ini.EraseSection(step.section);
          outcome.results.push_back("écrit");
          break;
      }
    } catch (const zirvo::Exception&) {
      outcome.results.push_back("échec");
    }
  }
  outcome.fileExists = fs::exists(path);
  outcome.bytes = ReadBytes(path);
  return outcome;
}

Outcome RunWindows(const fs::path& path, const Case& test) {
  PrepareFile(path, test);
  const std::string file = path.string();
  Outcome outcome;
  for (const Step& step : test.steps) {
    switch (step.op) {
      case Op::kRead: {
        // The buffer size the Windows settings reads have always used.
        std::vector<char> buffer(2048);
        const DWORD length = GetPrivateProfileStringA(
            step.section.c_str(), step.key.c_str(), step.value.c_str(), buffer.data(),
            static_cast<DWORD>(buffer.size()), file.c_str());
        outcome.results.emplace_back(buffer.data(), length);
        break;
      }
      case Op::kReadInt: {
        outcome.results.push_back(std::to_string(static_cast<std::int32_t>(GetPrivateProfileIntA(
            step.section.c_str(), step.key.c_str(), std::stoi(step.value), file.c_str()))));
        char text[2048];
        const DWORD length = GetPrivateProfileStringA(step.section.c_str(), step.key.c_str(), "",
                                                      text, sizeof text, file.c_str());
        outcome.integerTexts.emplace_back(text, length);
        break;
      }
      case Op::kWrite:
      case Op::kErase: {
        const bool written = WritePrivateProfileStringA(
            step.section.c_str(), step.op == Op::kWrite ? step.key.c_str() : nullptr,
            step.op == Op::kWrite ? step.value.c_str() : nullptr, file.c_str());
        outcome.results.push_back(written ? "écrit" : "échec");
        break;
      }
    }
  }
  // Drops the cached copy, so the bytes read below are those the functions wrote.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, file.c_str());
  outcome.fileExists = fs::exists(path);
  outcome.bytes = ReadBytes(path);
  return outcome;
}

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }
std::string Trim(std::string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return text.substr(start);
}

// The file's content without what our engine keeps and the Windows functions redo when
// they rewrite a file: blank lines, blanks around lines, names, values and section names.
// The mark stays.
std::string Canonical(const std::string& bytes) {
  std::string text = bytes;
  std::string mark;
  if (text.rfind("\xFF\xFE", 0) == 0) {
    mark = "UTF-16 ";
    const std::wstring wide(reinterpret_cast<const wchar_t*>(text.data() + 2),
                            (text.size() - 2) / 2);
    text.assign(wide.size() * 4, '\0');
    text.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    text.data(), static_cast<int>(text.size()), nullptr, nullptr));
  } else if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
    mark = "UTF-8 ";
    text.erase(0, 3);
  }
  std::string canonical = mark;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(start, end - start));
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] == ';') {
      // kept as it is
    } else if (line[0] == '[') {
      line = "[" + Trim(line.substr(1, line.find(']') - 1)) + "]";
    } else if (equals != std::string::npos) {
      line = Trim(line.substr(0, equals)) + "=" + Trim(line.substr(equals + 1));
    }
    if (!line.empty()) canonical += line + "\n";
    start = end + 1;
  }
  return canonical;
}

// A value as a table cell: controls and bytes above 0x7E escaped, long runs shortened.
std::string Shown(const std::string& value) {
  std::string shown;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (shown.size() > 60) return shown + "… (" + std::to_string(value.size()) + " octets)";
    const unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
    }
  }
  return value.size() > 20 && shown.size() > 20
             ? shown + " (" + std::to_string(value.size()) + " octets)"
             : shown;
}

std::string StepText(const Step& step) {
  switch (step.op) {
    case Op::kRead:
      return "lecture [" + step.section + "] " + step.key;
    case Op::kReadInt:
      return "entier [" + step.section + "] " + step.key;
    case Op::kWrite:
      return "écriture [" + step.section + "] " + step.key + "=" + Shown(step.value);
    case Op::kErase:
      return "effacement [" + step.section + "]";
  }
  return {};
}

bool IsPlainDecimal(const std::string& text) {
  const std::size_t sign = text.find_first_not_of("+-") == 1 ? 1 : 0;
  if (text.size() <= sign || text.size() - sign > 9) return false;
  return text.find_first_not_of("0123456789", sign) == std::string::npos;
}

struct Tally {
  int comparisons = 0;
  int documented = 0;
  int undocumented = 0;
};

void Report(Tally& tally, const std::string& caseName, const std::string& what,
            const std::string& ours, const std::string& windows, unsigned choice) {
  const bool documented = choice != kNoChoice;
  (documented ? tally.documented : tally.undocumented)++;
  // Stored as Windows-1252 by the build: printed as such, the log of a French console.
  std::printf("%-6s | %s | %s\n       |   nous    : %s\n       |   Windows : %s\n",
              documented ? "doc." : "ÉCART", caseName.c_str(), what.c_str(), Shown(ours).c_str(),
              Shown(windows).c_str());
  if (documented) std::printf("       |   choix   : %s\n", ChoiceText(choice));
}

// Which documented choice explains a difference of a step (nothing: the file's bytes), or
// kNoChoice. A case's own choice explains its reads and bytes; the comment choice only the
// reads of a name that starts with ';'.
unsigned Explain(const Case& test, const Step* step, unsigned byRule) {
  if (byRule != kNoChoice) return byRule;
  if (test.choices & kCommentsAreNotKeys) {
    return step != nullptr && step->key.rfind(';', 0) == 0 ? kCommentsAreNotKeys : kNoChoice;
  }
  if (step != nullptr && (step->op == Op::kWrite || step->op == Op::kErase)) return kNoChoice;
  for (unsigned choice : {kLineBreakCut, kEraseEvery, kLoneCr}) {
    if (test.choices & choice) return choice;
  }
  return kNoChoice;
}

void Compare(Tally& tally, const Case& test, const Outcome& ours, const Outcome& windows) {
  std::size_t integerRead = 0;
  for (std::size_t i = 0; i < test.steps.size(); ++i) {
    const Step& step = test.steps[i];
    ++tally.comparisons;
    // Both sides agree on plain decimals: only other texts may read differently.
    const bool plainInteger =
        step.op == Op::kReadInt && IsPlainDecimal(windows.integerTexts[integerRead++]);
    if (ours.results[i] == windows.results[i]) continue;
    const unsigned byRule = step.op == Op::kReadInt && !plainInteger ? kIntegers : kNoChoice;
    Report(tally, test.name, StepText(step), ours.results[i], windows.results[i],
           Explain(test, &step, byRule));
  }
  ++tally.comparisons;
  if (ours.fileExists != windows.fileExists || ours.bytes != windows.bytes) {
    const bool layoutOnly =
        ours.fileExists == windows.fileExists && Canonical(ours.bytes) == Canonical(windows.bytes);
    // Shown from a little before the first byte that differs.
    std::size_t from = 0;
    while (from < ours.bytes.size() && from < windows.bytes.size() &&
           ours.bytes[from] == windows.bytes[from]) {
      ++from;
    }
    from -= std::min<std::size_t>(from, 8);
    Report(tally, test.name, "octets du fichier, dès l'octet " + std::to_string(from),
           ours.bytes.substr(std::min(from, ours.bytes.size())),
           windows.bytes.substr(std::min(from, windows.bytes.size())),
           Explain(test, nullptr, layoutOnly ? kLayoutKept : kNoChoice));
  }
}

}  // namespace

// Our writer's temporary file once had a name any process could foresee (the file's name,
// ".tmp" and the process id) and was opened whatever stood there: a file put under that
// name must come through a write untouched, and the write must leave no file of its own.
bool TemporaryNameIsUnforeseeable(const fs::path& folder) {
  const fs::path path = folder / "temporaire.ini";
  const fs::path planted = folder / ("temporaire.ini.tmp" + std::to_string(GetCurrentProcessId()));
  std::ofstream(planted, std::ios::binary) << "placé là";
  IniFile(path.string()).WriteString("Main", "Interval", "60");
  std::ifstream in(planted, std::ios::binary);
  const std::string kept{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  int ours = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    ours += entry.path().filename().string().rfind("temporaire.ini", 0) == 0 ? 1 : 0;
  }
  const bool sound = kept == "placé là" && fs::exists(path) && ours == 2;
  std::printf("Fichier temporaire d'écriture : %s\n",
              sound ? "nom imprévisible, fichier déjà là intact"
                    : "ÉCHEC (fichier déjà là modifié, ou fichier laissé)");
  return sound;
}

int main() {
  if (GetACP() != 1252) {
    std::printf("Page de code ANSI %u : les cas demandent Windows-1252 (lancer sous fr_FR).\n",
                GetACP());
    return 2;
  }
  const fs::path folder =
      fs::temp_directory_path() / ("zirvo-ini-compare-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(folder);
  std::printf("Écarts entre notre moteur (nous) et les fonctions de Windows, cas par cas :\n");
  Tally tally;
  const std::vector<Case> cases = Cases();
  int number = 0;
  for (const Case& test : cases) {
    ++number;
    const Outcome ours = RunOurs(folder / ("ours" + std::to_string(number) + ".ini"), test);
    const Outcome windows = RunWindows(folder / ("win" + std::to_string(number) + ".ini"), test);
    Compare(tally, test, ours, windows);
  }
  const bool temporarySound = TemporaryNameIsUnforeseeable(folder);
  for (const auto& entry : fs::directory_iterator(folder)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }
  fs::remove_all(folder);
  std::printf("%zu cas, %d comparaisons : %d différences documentées, %d non documentées.\n",
              cases.size(), tally.comparisons, tally.documented, tally.undocumented);
  return tally.undocumented == 0 && temporarySound ? 0 : 1;
}
