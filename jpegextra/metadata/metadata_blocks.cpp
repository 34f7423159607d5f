#include "jpegextra/metadata/metadata_blocks.h"

#include <string>
#include <string_view>
#include <utility>

#include "jpegextra/metadata/utf8.h"

namespace quorvex {
namespace {

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // XML 1.0 has no place for the other control characters.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
    }
  }
  return out;
}

bool Writable(std::string_view text) {
  return !text.empty() && IsWellFormedUtf8(text);
}

class XmpWriter {
 public:
  void Simple(std::string_view name, std::string_view value) {
    if (Writable(value))
      body_ += "   <" + std::string(name) + ">" + Escaped(value) + "</" + std::string(name) + ">\n";
  }
  // Alternative-language text with the default language only, as dc:title and friends are.
  void LangAlt(std::string_view name, std::string_view value) {
    if (!Writable(value)) return;
    body_ += "   <" + std::string(name) + "><rdf:Alt><rdf:li xml:lang=\"x-default\">" +
             Escaped(value) + "</rdf:li></rdf:Alt></" + std::string(name) + ">\n";
  }
  void List(std::string_view name, std::string_view kind, const std::vector<std::string>& items) {
    std::string entries;
    for (const std::string& item : items)
      if (Writable(item)) entries += "<rdf:li>" + Escaped(item) + "</rdf:li>";
    if (entries.empty()) return;
    body_ += "   <" + std::string(name) + "><rdf:" + std::string(kind) + ">" + entries +
             "</rdf:" + std::string(kind) + "></" + std::string(name) + ">\n";
  }
  std::vector<uint8_t> Packet() const {
    if (body_.empty()) return {};
    const std::string packet =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
        " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
        "  <rdf:Description rdf:about=\"\"\n"
        "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
        "    xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"\n"
        "    xmlns:Iptc4xmpCore=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">\n" +
        body_ +
        "  </rdf:Description>\n"
        " </rdf:RDF>\n"
        "</x:xmpmeta>\n"
        "<?xpacket end=\"w\"?>";
    return {packet.begin(), packet.end()};
  }

 private:
  std::string body_;
};

}  // namespace

std::vector<uint8_t> XmpPacket(const TFileInfo& info) {
  XmpWriter xmp;
  xmp.LangAlt("dc:title", info.ObjectName);
  xmp.LangAlt("dc:description", info.Caption);
  xmp.LangAlt("dc:rights", info.CopyrightNotice);
  if (Writable(info.Byline)) xmp.List("dc:creator", "Seq", {info.Byline});
  xmp.List("dc:subject", "Bag", info.Keywords);
  xmp.Simple("photoshop:Headline", info.Headline);
  xmp.Simple("photoshop:Category", info.Category);
  xmp.List("photoshop:SupplementalCategories", "Bag", info.SupplementalCategories);
  xmp.Simple("photoshop:Instructions", info.SpecialInstructions);
  xmp.Simple("photoshop:AuthorsPosition", info.BylineTitle);
  xmp.Simple("photoshop:City", info.City);
  xmp.Simple("photoshop:State", info.ProvinceState);
  xmp.Simple("photoshop:Country", info.CountryName);
  xmp.Simple("photoshop:TransmissionReference", info.TransmissionReference);
  xmp.Simple("photoshop:Credit", info.Credit);
  xmp.Simple("photoshop:Source", info.Source);
  xmp.Simple("photoshop:CaptionWriter", info.CaptionWriter);
  xmp.Simple("Iptc4xmpCore:Location", info.SubLocation);
  xmp.Simple("Iptc4xmpCore:CountryCode", info.CountryCode);
  return xmp.Packet();
}

}  // namespace quorvex
