#include "StationConfig.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <set>

#include "Utf8.h"
#include "WholeFile.h"
#include "uXmlUtils.h"

namespace {

constexpr char kRoot[] = "station";
constexpr size_t kSha256Digits = 64;

// Every element the file may hold, with the attributes each takes.
struct TElementForm {
  const char* Name;
  std::vector<const char*> Attributes;
};
const TElementForm kForms[] = {
    {"station", {"name", "serial", "fast"}},
    {"loader", {"file", "sha256"}},
    {"firmware", {"file", "sha256"}},
    {"settings", {"apn", "login", "password"}},
    {"ports", {}},
    {"port", {"path", "label"}},
    {"record", {"file"}},
};

class TReader {
 public:
  TReader(const std::filesystem::path& AFile, std::string AText) : FFile(AFile), FText(std::move(AText)) {}

  EStationConfig Error(int ALine, const std::string& AWhat) const {
    return EStationConfig("station file \"" + PathToUtf8(FFile) + "\"" +
                          (ALine > 0 ? ", line " + std::to_string(ALine) : std::string()) + ": " + AWhat);
  }
  EStationConfig Error(const pugi::xml_node& ANode, const std::string& AWhat) const {
    return Error(Line(ANode), AWhat);
  }
  int Line(const pugi::xml_node& ANode) const { return XmlLineAt(FText, ANode.offset_debug()); }
  const std::string& Text() const { return FText; }

  // Each element once, in its place, with only its own attributes.
  void CheckForm(const pugi::xml_node& AElement, const char* AParent) const {
    const std::string name = AElement.name();
    const auto form = std::find_if(std::begin(kForms), std::end(kForms),
                                   [&](const TElementForm& F) { return name == F.Name; });
    const char* parent = name == "port" ? "ports" : name == kRoot ? "" : kRoot;  // where each belongs
    const bool inPlace = form != std::end(kForms) && std::strcmp(AParent, parent) == 0;
    if (!inPlace)
      throw Error(AElement, "<" + name + "> does not belong in <" + AParent +
                                ">; a station holds <loader>, <firmware>, <settings>, <record> and "
                                "optionally <ports> with <port> elements");
    for (const pugi::xml_attribute& attribute : AElement.attributes()) {
      const std::string attributeName = attribute.name();
      if (std::none_of(form->Attributes.begin(), form->Attributes.end(),
                       [&](const char* A) { return attributeName == A; }))
        throw Error(AElement, "<" + name + "> takes no attribute \"" + attributeName + "\"");
    }
  }

  std::string Required(const pugi::xml_node& AElement, const char* AAttribute, bool AMayBeEmpty = false) const {
    const pugi::xml_attribute attribute = AElement.attribute(AAttribute);
    if (!attribute) throw Error(AElement, "<" + std::string(AElement.name()) + "> needs " + AAttribute + "=\"...\"");
    if (!AMayBeEmpty && *attribute.value() == '\0')
      throw Error(AElement, "<" + std::string(AElement.name()) + "> has an empty " + AAttribute);
    return attribute.value();
  }

  bool YesNo(const pugi::xml_node& AElement, const char* AAttribute, bool ADefault) const {
    const pugi::xml_attribute attribute = AElement.attribute(AAttribute);
    if (!attribute) return ADefault;
    const std::string value = attribute.value();
    if (value == "yes") return true;
    if (value == "no") return false;
    throw Error(AElement, std::string(AAttribute) + "=\"" + value + "\" must be \"yes\" or \"no\"");
  }

  std::filesystem::path Beside(const std::string& AFile) const {
    const std::filesystem::path path = Utf8ToPath(AFile);
    return path.is_absolute() ? path : FFile.parent_path() / path;
  }

  TPinnedImage Image(const pugi::xml_node& AElement) const {
    TPinnedImage image;
    image.Line = Line(AElement);
    image.File = Beside(Required(AElement, "file"));
    std::string sum = Required(AElement, "sha256");
    std::transform(sum.begin(), sum.end(), sum.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (sum.size() != kSha256Digits || sum.find_first_not_of("0123456789abcdef") != std::string::npos)
      throw Error(AElement, "sha256 must be 64 hexadecimal digits, as sha256sum prints them; it has \"" +
                                std::string(AElement.attribute("sha256").value()) + "\"");
    image.Sha256 = sum;
    return image;
  }

  pugi::xml_node Only(const pugi::xml_node& ARoot, const char* AName, bool ARequired) const {
    const pugi::xml_node first = ARoot.child(AName);
    if (!first && ARequired) throw Error(ARoot, "the station has no <" + std::string(AName) + "> element");
    if (const pugi::xml_node second = first.next_sibling(AName))
      throw Error(second, "a second <" + std::string(AName) + "> element; a station has one");
    return first;
  }

 private:
  std::filesystem::path FFile;
  std::string FText;
};

std::filesystem::path Absolute(const std::filesystem::path& AFile) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(AFile, error);
  return error ? AFile : path;
}

}  // namespace

TStationConfig LoadStationConfig(const std::filesystem::path& AFile) {
  TStationConfig config;
  config.File = Absolute(AFile);
  std::string bytes, why;
  if (!ReadWholeFile(AFile, bytes, why))
    throw EStationConfig("station file \"" + PathToUtf8(AFile) + "\" cannot be read: " + why);
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);  // a byte-order mark says UTF-8 too
  TReader reader(config.File, bytes);
  if (!IsUtf8(bytes)) {
    int line = 1;  // the first line that is no UTF-8
    for (size_t start = 0, end = 0; start < bytes.size(); start = end + 1, ++line) {
      end = std::min(bytes.find('\n', start), bytes.size());
      if (!IsUtf8(std::string_view(bytes).substr(start, end - start))) break;
    }
    throw reader.Error(line, "the text is not UTF-8; save the station file as UTF-8");
  }
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    if (parsed.status == pugi::status_no_document_element)
      throw reader.Error(0, "holds no XML element; a station file starts with <station>");
    throw reader.Error(XmlLineAt(bytes, parsed.offset),
                       std::string("malformed XML: ") + parsed.description());
  }
  const pugi::xml_node root = doc.document_element();
  if (std::string(root.name()) != kRoot)
    throw reader.Error(root, "the root element is <" + std::string(root.name()) + ">; a station file has <station>");
  reader.CheckForm(root, "");
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() != pugi::node_element) continue;
    reader.CheckForm(child, kRoot);
    for (const pugi::xml_node& grandchild : child.children())
      if (grandchild.type() == pugi::node_element) reader.CheckForm(grandchild, child.name());
  }
  config.Name = reader.Required(root, "name");
  const std::string serial = GetAttribute(root, "serial", "none");
  if (serial != "required" && serial != "none")
    throw reader.Error(root, "serial=\"" + serial + "\" must be \"required\" or \"none\"");
  config.SerialRequired = serial == "required";
  config.Fast = reader.YesNo(root, "fast", true);
  config.Loader = reader.Image(reader.Only(root, "loader", true));
  config.Firmware = reader.Image(reader.Only(root, "firmware", true));
  const pugi::xml_node settings = reader.Only(root, "settings", true);
  config.SettingsLine = reader.Line(settings);
  config.Apn = reader.Required(settings, "apn", true);
  config.Login = reader.Required(settings, "login", true);
  config.Password = reader.Required(settings, "password", true);
  config.RecordFile = reader.Beside(reader.Required(reader.Only(root, "record", true), "file"));
  std::set<std::string> paths, labels;
  if (const pugi::xml_node ports = reader.Only(root, "ports", false)) {
    for (const pugi::xml_node& port : ports.children("port")) {
      TStationPort entry{reader.Required(port, "path"), reader.Required(port, "label")};
      if (!paths.insert(entry.Path).second) throw reader.Error(port, "port " + entry.Path + " is listed twice");
      if (!labels.insert(entry.Label).second)
        throw reader.Error(port, "the label \"" + entry.Label + "\" is given to two ports");
      config.Ports.push_back(std::move(entry));
    }
    if (config.Ports.empty())
      throw reader.Error(ports, "<ports> lists no <port>; leave it out to serve every board");
  }
  return config;
}
