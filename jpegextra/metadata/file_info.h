// The named IPTC fields of a JPEG object, filled from APP13 segments and built back into one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jpegextra/metadata/photoshop_segment.h"

namespace quorvex {

// A calendar date; all zero is "none".
struct TIptcDate {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  bool IsNone() const noexcept { return Year == 0 && Month == 0 && Day == 0; }
  friend bool operator==(const TIptcDate&, const TIptcDate&) = default;
};

// A time of day; 00:00:00 is "none".
struct TIptcTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  bool IsNone() const noexcept { return Hour == 0 && Minute == 0 && Second == 0; }
  friend bool operator==(const TIptcTime&, const TIptcTime&) = default;
};

class TFileInfo {
 public:
  bool HasPhotoshopData = false;  // an APP13 segment is to be written on save

  std::string ObjectName;                           // 2:05
  std::string EditStatus;                           // 2:07
  uint8_t Urgency = 0;                              // 2:10
  std::string Category;                             // 2:15
  std::vector<std::string> SupplementalCategories;  // 2:20
  std::string FixtureIdentifier;                    // 2:22
  std::vector<std::string> Keywords;                // 2:25
  TIptcDate ReleaseDate;                            // 2:30
  TIptcTime ReleaseTime;                            // 2:35
  std::string SpecialInstructions;                  // 2:40
  std::string ReferenceService;                     // 2:45
  TIptcDate ReferenceDate;                          // 2:47
  std::string ReferenceNumber;                      // 2:50
  TIptcDate DateCreated;                            // 2:55
  TIptcTime TimeCreated;                            // 2:60
  std::string OriginatingProgram;                   // 2:65
  std::string ProgramVersion;                       // 2:70
  std::string ObjectCycle;                          // 2:75
  std::string Byline;                               // 2:80
  std::string BylineTitle;                          // 2:85
  std::string City;                                 // 2:90
  std::string SubLocation;                          // 2:92
  std::string ProvinceState;                        // 2:95
  std::string CountryCode;                          // 2:100
  std::string CountryName;                          // 2:101
  std::string TransmissionReference;                // 2:103
  std::string Headline;                             // 2:105
  std::string Credit;                               // 2:110
  std::string Source;                               // 2:115
  std::string CopyrightNotice;                      // 2:116
  std::string Caption;                              // 2:120
  std::string Dataset121;                           // 2:121
  std::string CaptionWriter;                        // 2:122
  std::array<std::string, 20> Dataset200To219;      // 2:200 ... 2:219
  std::string Dataset230;                           // 2:230
  std::string Dataset231;                           // 2:231, read only
  std::string Dataset232;                           // 2:232, read only
  bool CopyrightFlag = false;                       // resource 0x040A
  std::string Url;                                  // resource 0x040B

  // Fills the fields from a parsed segment without clearing them first: "first" fields keep an
  // earlier non-empty value, the others take the latest. Never raises for odd values.
  void MergeSegment(const TApp14Segment& segment);

  // A new segment "Photoshop 3.0" with an IPTC block and, when set, URL and copyright blocks.
  TApp14Segment BuildSegment() const;

  void Clear() { *this = TFileInfo(); }
  void Assign(const TFileInfo& other) { *this = other; }

  friend bool operator==(const TFileInfo&, const TFileInfo&) = default;
};

// Date rule: CCYYMMDD; none unless all three parts are non-zero and form a valid date.
TIptcDate ParseIptcDate(std::string_view value) noexcept;
// Time rule: HH:MM:SS (or with '-' or '.') or HHMMSS with an optional zone; none otherwise.
TIptcTime ParseIptcTime(std::string_view value) noexcept;

}  // namespace quorvex
