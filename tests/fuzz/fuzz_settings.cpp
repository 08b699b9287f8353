// The settings file: any bytes as the file, then load, save, load again.
// Properties: a file that does not load is never overwritten; a file that
// loads is saved (or the save fails and leaves it as it was), the saved
// file loads again with the same three texts, and every other node of the
// document comes back with the same text.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "SettingsFile.h"
#include "XmlDocumentFile.h"
#include "XmlText.h"

namespace {

// Settings files are a few hundred bytes; larger inputs only slow the search.
constexpr size_t kMaxInput = 16 * 1024;

std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream file(APath, std::ios::binary);
  if (!file) return "(unreadable)";
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void WriteFile(const std::filesystem::path& APath, const std::string& ABytes) {
  std::ofstream file(APath, std::ios::binary | std::ios::trunc);
  FUZZ_CHECK(static_cast<bool>(file << ABytes) && static_cast<bool>(file.flush()), APath.string());
}

std::string Describe(const TApnTexts& ATexts) {
  return "apn=\"" + ATexts.Apn + "\" login=\"" + ATexts.Login + "\" password=\"" + ATexts.Password +
         "\"";
}

bool Same(const TApnTexts& A, const TApnTexts& B) {
  return A.Apn == B.Apn && A.Login == B.Login && A.Password == B.Password;
}

bool IsText(const pugi::xml_node& ANode) {
  return ANode.type() == pugi::node_pcdata || ANode.type() == pugi::node_cdata;
}

// Every node but the declaration, one line each, in document order, with
// what a reader sees: references resolved, adjacent text and CDATA joined
// (a CDATA section may be saved as text), and the three settings
// attributes left out (they are compared as texts).
class TOutline : public pugi::xml_tree_walker {
 public:
  explicit TOutline(pugi::xml_node ASettings) : FSettings(ASettings) {}
  std::vector<std::string> Lines;

  bool for_each(pugi::xml_node& ANode) override {
    const std::string level = std::to_string(depth());
    switch (ANode.type()) {
      case pugi::node_element: {
        std::string line = level + " <" + ANode.name();
        for (const pugi::xml_attribute& a : ANode.attributes()) {
          if (ANode == FSettings && IsSettingsAttribute(a.name())) continue;
          line += " " + std::string(a.name()) + "=" + XmlResolveReferences(a.value());
        }
        Lines.push_back(line);
        break;
      }
      case pugi::node_pcdata:
      case pugi::node_cdata: {
        const std::string text = ANode.type() == pugi::node_cdata
                                     ? std::string(ANode.value())
                                     : XmlResolveReferences(ANode.value());
        if (IsText(ANode.previous_sibling())) {
          Lines.back() += text;
        } else {
          Lines.push_back(level + " text " + text);
        }
        break;
      }
      case pugi::node_declaration:
        break;
      default:
        Lines.push_back(level + " " + std::to_string(ANode.type()) + " " + ANode.name() + " " +
                        ANode.value());
        break;
    }
    return true;
  }

 private:
  static bool IsSettingsAttribute(const std::string& AName) {
    return AName == "apn" || AName == "login" || AName == "password";
  }
  pugi::xml_node FSettings;
};

// The line of a settings element the save appended to the root.
const char kAppendedSettings[] = "1 <ApnSettings";

std::vector<std::string> Outline(const std::filesystem::path& APath, bool& AHasSettings) {
  pugi::xml_document doc;
  LoadXmlDocument(doc, APath);
  const pugi::xml_node settings = doc.document_element().child("ApnSettings");
  AHasSettings = settings;
  TOutline outline(settings);
  doc.traverse(outline);
  return outline.Lines;
}

std::string Join(const std::vector<std::string>& ALines) {
  std::string text;
  for (const std::string& line : ALines) text += line + "\n";
  return text;
}

const TApnTexts kDefaults{"internet", "user", "40817"};

// In memory where there is such a folder: every input is written, saved
// and read twice. Removed when the process ends.
class TScratchFolder {
 public:
  TScratchFolder() {
    std::error_code error;
    const std::filesystem::path shm = "/dev/shm";
    const std::filesystem::path base = std::filesystem::is_directory(shm, error) && ::access(shm.c_str(), W_OK) == 0
                                           ? shm
                                           : std::filesystem::temp_directory_path();
    Path = base / ("fuzz_settings-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Path);
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  std::filesystem::path Path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize > kMaxInput) return 0;
  static const TScratchFolder folder;
  static const std::filesystem::path path = folder.Path / "KestrovaSetup.xml";
  const std::string original(reinterpret_cast<const char*>(AData), ASize);
  WriteFile(path, original);

  TApnTexts first = kDefaults;
  try {
    LoadConfiguration(path, first);
  } catch (const std::runtime_error&) {
    bool saved = true;
    try {
      SaveConfiguration(path, first);
    } catch (const std::runtime_error&) {
      saved = false;
    }
    FUZZ_CHECK(!saved, "a file that does not load was saved over");
    FUZZ_CHECK(ReadFile(path) == original, "a file that does not load was changed");
    return 0;
  }
  bool hadSettings = false;
  const std::vector<std::string> before = Outline(path, hadSettings);

  try {
    SaveConfiguration(path, first);
  } catch (const std::runtime_error&) {
    FUZZ_CHECK(ReadFile(path) == original, "a failed save changed the file");
    return 0;
  }
  TApnTexts second{"-", "-", "-"};
  try {
    LoadConfiguration(path, second);
  } catch (const std::runtime_error& e) {
    FUZZ_CHECK(false, std::string("the saved file does not load: ") + e.what() + "\n" + ReadFile(path));
  }
  FUZZ_CHECK(Same(first, second), Describe(first) + " came back as " + Describe(second));
  bool hasSettings = false;
  std::vector<std::string> after = Outline(path, hasSettings);
  FUZZ_CHECK(hasSettings, "the saved file has no settings element");
  if (!hadSettings) {
    const auto appended = std::find(after.begin(), after.end(), kAppendedSettings);
    FUZZ_CHECK(appended != after.end(), "the settings element is not a child of the root");
    after.erase(appended);
  }
  FUZZ_CHECK(before == after, "before:\n" + Join(before) + "after:\n" + Join(after) +
                                  "saved file:\n" + ReadFile(path));
  return 0;
}
