#include "support/dfxml_reading.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace norvale::test {
namespace {

constexpr const char* kDfxml = "http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML";
constexpr const char* kDc = "http://purl.org/dc/elements/1.1/";
constexpr const char* kNorvale = "urn:norvale:dfxml:1";

std::string qualified(const xmlNode* node) {
  const char* ns = node->ns ? reinterpret_cast<const char*>(node->ns->href) : "";
  const std::string local = reinterpret_cast<const char*>(node->name);
  if (!std::strcmp(ns, kDfxml)) return "dfxml:" + local;
  if (!std::strcmp(ns, kDc)) return "dc:" + local;
  if (!std::strcmp(ns, kNorvale)) return "norvale:" + local;
  return std::string("{") + ns + "}" + local;
}

std::string content(const xmlNode* node) {
  xmlChar* text = xmlNodeGetContent(node);
  std::string out = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return out;
}

std::optional<std::string> attribute(const xmlNode* node, const char* name) {
  xmlChar* value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar*>(name));
  if (!value) return std::nullopt;
  std::string out = reinterpret_cast<const char*>(value);
  xmlFree(value);
  return out;
}

std::optional<std::uint64_t> number(const std::optional<std::string>& text) {
  if (!text || text->empty() || text->find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::stoull(*text);
}

template <typename F>
void forChildren(const xmlNode* node, F&& f) {
  for (const xmlNode* child = node->children; child; child = child->next)
    if (child->type == XML_ELEMENT_NODE) f(child);
}

ReadFileObject fileObject(const xmlNode* node) {
  ReadFileObject file;
  forChildren(node, [&](const xmlNode* child) {
    const std::string name = qualified(child);
    file.children.push_back(name);
    if (name == "dfxml:filename") file.filename = content(child);
    else if (name == "dfxml:id") file.id = content(child);
    else if (name == "dfxml:filesize") file.filesize = number(content(child)).value_or(UINT64_MAX);
    else if (name == "dfxml:hashdigest" && attribute(child, "type") == "sha256") file.sha256 = content(child);
    else if (name == "norvale:derived_from") file.derivedFrom = content(child);
    else if (name == "dfxml:byte_runs") {
      file.hasByteRuns = true;
      forChildren(child, [&](const xmlNode* run) {
        if (qualified(run) != "dfxml:byte_run") return;
        file.runs.push_back({number(attribute(run, "file_offset")), number(attribute(run, "img_offset")),
                             number(attribute(run, "len")), attribute(run, "fill").value_or("")});
      });
    }
  });
  return file;
}

}  // namespace

ReadDfxml readDfxml(const std::string& text) {
  ReadDfxml out;
  xmlDoc* doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), "report.dfxml", nullptr, XML_PARSE_NONET);
  if (!doc) {
    const xmlError* error = xmlGetLastError();
    out.error = error && error->message ? error->message : "not well-formed";
    return out;
  }
  out.parsed = true;
  const xmlNode* root = xmlDocGetRootElement(doc);
  out.rootName = reinterpret_cast<const char*>(root->name);
  out.rootNamespace = root->ns ? reinterpret_cast<const char*>(root->ns->href) : "";
  out.version = attribute(root, "version").value_or("");
  forChildren(root, [&](const xmlNode* child) {
    const std::string name = qualified(child);
    out.rootChildren.push_back(name);
    if (name == "dfxml:metadata") {
      forChildren(child, [&](const xmlNode* m) {
        if (qualified(m) == "dc:type") out.dcType = content(m);
      });
    } else if (name == "dfxml:creator") {
      forChildren(child, [&](const xmlNode* c) {
        const std::string n = qualified(c);
        out.creatorChildren.push_back(n);
        if (n == "dfxml:program") out.program = content(c);
        if (n == "dfxml:version") out.programVersion = content(c);
        if (n == "dfxml:execution_environment")
          forChildren(c, [&](const xmlNode* e) {
            const std::string en = qualified(e);
            out.executionChildren.push_back(en);
            if (en == "dfxml:command_line") out.commandLine = content(e);
            if (en == "dfxml:start_time") out.startTime = content(e);
          });
      });
    } else if (name == "dfxml:source") {
      forChildren(child, [&](const xmlNode* s) {
        if (qualified(s) == "dfxml:image_filename") out.imageFilenames.push_back(content(s));
      });
    } else if (name == "dfxml:fileobject") {
      out.files.push_back(fileObject(child));
    }
  });
  xmlFreeDoc(doc);
  return out;
}

ReadDfxml readDfxmlFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ReadDfxml out;
    out.error = "cannot open " + path;
    return out;
  }
  return readDfxml(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

std::optional<std::vector<std::uint8_t>> bytesOfRuns(const ReadFileObject& file, const std::vector<std::uint8_t>& image) {
  std::vector<std::uint8_t> bytes;
  for (const ReadByteRun& run : file.runs) {
    if (!run.fileOffset || !run.length || *run.fileOffset != bytes.size()) return std::nullopt;
    if (run.imageOffset) {
      if (!run.fill.empty() || *run.imageOffset + *run.length > image.size()) return std::nullopt;
      bytes.insert(bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(*run.imageOffset),
                   image.begin() + static_cast<std::ptrdiff_t>(*run.imageOffset + *run.length));
    } else {
      if (run.fill != "0") return std::nullopt;
      bytes.insert(bytes.end(), *run.length, 0);
    }
  }
  return bytes;
}

}  // namespace norvale::test
