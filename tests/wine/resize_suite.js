// The Resize object as a JScript page sees it: creation by ProgID, properties and their
// clamping, names in any case, loads, transforms and saves on real files, and failures as caught
// errors (JScript errors carry the number and the description; they have no source).
// Usage: cscript //nologo resize_suite.js WORK_DIR VERSION   (WORK_DIR holds make_inputs.py's files)
// The host exits 0 even when a script dies, so the last line, "N passed, M failed", is the verdict.
var PROG_ID = "Quorvex.Resize";
var NO_IMAGE = "No image loaded.";
var NOT_FOUND = "File not found or permission incorrect.";
var passed = 0;
var failed = 0;
var work = WScript.Arguments(0);
var versionText = "Quorvex " + WScript.Arguments(1) + ".";
var fso = new ActiveXObject("Scripting.FileSystemObject");

function check(name, actual, expected) {
  if (actual === expected) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAIL " + name + ": got [" + actual + "], expected [" + expected + "]");
  }
}

function checkSize(name, r, width, height) {
  check(name + " (size)", r.Width + "x" + r.Height, width + "x" + height);
}

function hex(number) {
  return (number >>> 0).toString(16).toUpperCase();
}

// Runs the call, which must fail as the object's own failures do: 0x8000FFFF and the message.
function checkError(name, call, description) {
  try {
    call();
  } catch (e) {
    check(name + " (number)", hex(e.number), "8000FFFF");
    check(name + " (description)", e.description, description);
    check(name + " (message)", e.message, description);
    return;
  }
  check(name + " (raised)", "no error", description);
}

// Runs the call, which must be refused by the dispatch with the given result.
function checkDispatchError(name, call, number) {
  try {
    call();
  } catch (e) {
    check(name, hex(e.number), number);
    return;
  }
  check(name, "no error", number);
}

function path(name) {
  return work + "\\" + name;
}

function loaded(name) {
  var r = new ActiveXObject(PROG_ID);
  r.LoadFromFile(path(name));
  return r;
}

// Where a script dies, the last section line tells where.
function section(title) {
  WScript.Echo("-- " + title);
}

section("properties");
var r = new ActiveXObject(PROG_ID);
checkSize("new object", r, 0, 0);
check("new DPI", r.DPI, 0);
check("new JPGQuality", r.JPGQuality, 90);
check("new GrayScale", r.GrayScale, false);
check("new GreyScale", r.GreyScale, false);
check("new BackgroundColor", r.BackgroundColor, 0xFFFFFF);
check("Version", r.Version, versionText);
check("Width type", typeof r.Width, "number");
check("GrayScale type", typeof r.GrayScale, "boolean");
check("Version type", typeof r.Version, "string");

r.JPGQuality = 150;
check("JPGQuality 150", r.JPGQuality, 100);
r.JPGQuality = -5;
check("JPGQuality -5", r.JPGQuality, 0);
r.DPI = 70000;
check("DPI 70000", r.DPI, 65535);
r.DPI = -1;
check("DPI -1", r.DPI, 0);
r.DPI = 72;
check("DPI 72", r.DPI, 72);
r.GreyScale = 3;
check("GreyScale 3 makes GrayScale true", r.GrayScale, true);
r.GrayScale = false;
check("GrayScale false makes GreyScale false", r.GreyScale, false);
r.BackgroundColor = 0x00FF8040;
check("BackgroundColor stored unchanged", r.BackgroundColor, 0x00FF8040);

section("names");
r.jpgquality = 33;
check("jpgquality", r.JPGQUALITY, 33);
check("width", r.width, 0);
check("version", r.version, versionText);

section("loading and transforms");
r = loaded("photo_1000x750.jpg");
checkSize("LoadFromFile", r, 1000, 750);
check("colour file GrayScale", r.GrayScale, false);
r.ResizeImage(0, 100);
checkSize("ResizeImage(0, 100)", r, 133, 100);
r = loaded("photo_1000x750.jpg");
r.resizeimage(200, 0);
checkSize("resizeimage(200, 0)", r, 200, 150);
r = loaded("photo_1001x751.jpg");
r.ScaleImage(50);
checkSize("ScaleImage(50)", r, 500, 375);
r = loaded("photo_640x480.jpg");
r.ResizeBox(320, 320);
checkSize("ResizeBox(320, 320)", r, 320, 240);
r = loaded("photo_640x480.jpg");
r.ResizeBox(800, 600);
checkSize("ResizeBox(800, 600)", r, 640, 480);
r.RotateImage(90);
checkSize("RotateImage(90)", r, 480, 640);
r.RotateImage(45.5);
check("RotateImage(45.5) grows the image", r.Width > 640 && r.Height > 640, true);
r = loaded("photo_1000x750.jpg");
r.CropImage(100, 80, 20, 10);
checkSize("CropImage(100, 80, 20, 10)", r, 80, 70);
r.FlipHorizontal();
r.FlipVertical();
checkSize("flips keep the size", r, 80, 70);
r = loaded("gray.jpg");
check("gray file GrayScale", r.GrayScale, true);

section("saving and byte arrays");
r = loaded("photo_800x600.jpg");
r.DPI = 150;
r.GrayScale = true;
r.SaveToFile(path("js_out.jpg"));
var again = loaded("js_out.jpg");
checkSize("reloaded save", again, 800, 600);
check("reloaded DPI", again.DPI, 150);
check("reloaded GrayScale", again.GrayScale, true);
// A save replaces a writable file and refuses a read-only one, which keeps its content.
var kept = path("js_readonly.jpg");
r.SaveToFile(kept);
var keptSize = fso.GetFile(kept).Size;
fso.GetFile(kept).Attributes = 1;
var small = loaded("photo_100x80.jpg");
checkError("SaveToFile over a read-only file", function () { small.SaveToFile(kept); },
           "Cannot write file: " + kept);
check("the read-only file is kept", fso.GetFile(kept).Size, keptSize);
fso.GetFile(kept).Attributes = 0;
small.SaveToFile(kept);
check("a writable file is replaced", fso.GetFile(kept).Size < keptSize, true);
// Wine's JScript cannot look into a byte array, but it can hold one and pass it on.
var data = r.VariantOut;
var copy = new ActiveXObject(PROG_ID);
copy.VariantIn(data);
checkSize("VariantIn(VariantOut)", copy, 800, 600);
check("VariantIn takes the grayscale flag", copy.GrayScale, true);

section("failures");
var empty = new ActiveXObject(PROG_ID);
checkError("SaveToFile on a new object", function () { empty.SaveToFile(path("js_never.jpg")); },
           NO_IMAGE);
check("SaveToFile on a new object creates no file", fso.FileExists(path("js_never.jpg")), false);
checkError("VariantOut on a new object", function () { return empty.VariantOut; }, NO_IMAGE);
checkError("ScaleImage(50) on a new object", function () { empty.ScaleImage(50); },
           "Division by zero");
r = loaded("photo_100x80.jpg");
checkError("LoadFromFile of a missing file", function () { r.LoadFromFile(path("missing.jpg")); },
           NOT_FOUND);
checkError("LoadFromFile of a directory", function () { r.LoadFromFile(path("folder.jpg")); },
           NOT_FOUND);
checkError("LoadFromFile of a text file", function () { r.LoadFromFile(path("notjpeg.jpg")); },
           "Invalid file.");
checkError("SaveToFile into a missing directory",
           function () { r.SaveToFile(path("no such dir\\x.jpg")); },
           "Cannot write file: " + path("no such dir\\x.jpg"));
checkError("StreamImage outside a web request", function () { r.StreamImage(); },
           "StreamImage needs a web request: there is no object context.");
checkError("VariantIn of a string", function () { r.VariantIn("not an array"); },
           "Invalid argument");
checkError("VariantIn of a number", function () { r.VariantIn(12); }, "Invalid argument");
checkSize("failed calls keep the image", r, 100, 80);
checkError("ResizeImage beyond the largest raster", function () { r.ResizeImage(20000, 20000); },
           "Out of memory");
r = loaded("photo_100x10.jpg");
checkError("ResizeImage(1, 0) on 100 x 10", function () { r.ResizeImage(1, 0); },
           "Division by zero");
checkError("ResizeBox whose inner ResizeImage fails", function () { r.ResizeBox(1, 100); },
           "Division by zero");
checkSize("failed transforms keep the image", r, 100, 10);
r.CropImage(5, 0, 5, 10);
checkSize("CropImage(5, 0, 5, 10)", r, 0, 10);
checkError("SaveToFile after a crop to width 0", function () { r.SaveToFile(path("js_zero.jpg")); },
           NO_IMAGE);

section("dispatch failures");
r = loaded("photo_100x80.jpg");
checkDispatchError("unknown name", function () { r.NoSuchMember(); }, "800A01B6");
checkDispatchError("wrong argument count", function () { r.ResizeImage(1); }, "8002000E");
checkSize("the object stays usable after failures", r, 100, 80);

section("IResize2");
var DEFAULT_MAX_PIXELS = 16383 * 16383;
r = new ActiveXObject(PROG_ID);
// Each property: its value on a new object, then values put and read back.
var properties = [
  ["AutoOrient", false, [[true, true], [false, false]]],
  ["Orientation", 1, []],
  ["KeepMetadata", false, [[true, true], [false, false]]],
  ["MaxPixels", DEFAULT_MAX_PIXELS,
   [[1000, 1000], [0, DEFAULT_MAX_PIXELS], [5, 5], [-3, DEFAULT_MAX_PIXELS],
    [2147483647, DEFAULT_MAX_PIXELS]]],
  ["Progressive", false, [[true, true], [false, false]]],
  ["OptimizeCoding", false, [[true, true], [false, false]]],
  ["SourceQuality", 0, []]
];
for (var i = 0; i < properties.length; i++) {
  var property = properties[i][0];
  check("new " + property, r[property], properties[i][1]);
  for (var j = 0; j < properties[i][2].length; j++) {
    r[property] = properties[i][2][j][0];
    check(property + " = " + properties[i][2][j][0], r[property], properties[i][2][j][1]);
  }
}
check("maxpixels in lower case", r.maxpixels, DEFAULT_MAX_PIXELS);

// The size of the object's output as a file (Wine's JScript cannot look into a byte array).
function savedSize(r, name) {
  r.SaveToFile(path(name));
  return fso.GetFile(path(name)).Size;
}
r = loaded("photo_640x480.jpg");
check("SourceQuality of a quality 92 file", r.SourceQuality, 92);
check("Orientation of a file without EXIF", r.Orientation, 1);
var plainSize = savedSize(r, "js_plain.jpg");
r.Progressive = true;
check("Progressive codes the file differently", savedSize(r, "js_progressive.jpg") !== plainSize,
      true);
r.Progressive = false;
r.OptimizeCoding = true;
check("OptimizeCoding writes fewer bytes", savedSize(r, "js_optimized.jpg") < plainSize, true);
r.OptimizeCoding = false;
check("the options off write the plain file again", savedSize(r, "js_plain.jpg"), plainSize);

r = loaded("photo_100x80.jpg");
r.MaxPixels = 7999;
checkError("ResizeImage over MaxPixels", function () { r.ResizeImage(101, 80); }, "Out of memory");
checkError("RotateImage over MaxPixels", function () { r.RotateImage(45); }, "Out of memory");
checkError("CropImage over MaxPixels", function () { r.CropImage(0, 0, 100, 80); },
           "Out of memory");
checkError("LoadFromFile over MaxPixels", function () { r.LoadFromFile(path("photo_100x80.jpg")); },
           "Invalid file.");
checkSize("refused calls keep the image", r, 100, 80);
r.MaxPixels = 8000;
r.CropImage(0, 0, 80, 100);
checkSize("CropImage at MaxPixels", r, 80, 100);

// Turning pictures upright by their EXIF orientation and keeping their metadata.
section("orientation and metadata");
r = new ActiveXObject(PROG_ID);
check("new AutoOrient", r.AutoOrient, false);
check("new KeepMetadata", r.KeepMetadata, false);
check("new Orientation", r.Orientation, 1);
for (var n = 1; n <= 8; n++) {
  r = new ActiveXObject(PROG_ID);
  r.AutoOrient = true;
  r.LoadFromFile(path("oriented_" + n + ".jpg"));
  check("Orientation of oriented_" + n, r.Orientation, n);
  checkSize("AutoOrient of oriented_" + n, r, 100, 60);
  var stored = loaded("oriented_" + n + ".jpg");
  checkSize("stored oriented_" + n, stored, n >= 5 ? 60 : 100, n >= 5 ? 100 : 60);
}
r = new ActiveXObject(PROG_ID);
r.AutoOrient = true;
r.LoadThumbnail(path("oriented_8.jpg"), 50, 50);
checkSize("LoadThumbnail with AutoOrient", r, 50, 30);
var kept = new ActiveXObject(PROG_ID);
kept.KeepMetadata = true;
kept.LoadFromFile(path("tagged.jpg"));
r.VariantIn(kept.VariantOut);
check("kept Orientation read back", r.Orientation, 6);
checkSize("kept Orientation turns the copy", r, 100, 60);
kept.KeepMetadata = false;
r.VariantIn(kept.VariantOut);
check("no Orientation without KeepMetadata", r.Orientation, 1);
kept.KeepMetadataParts = "exif, ICC";
check("KeepMetadataParts in its own order", kept.KeepMetadataParts, "exif,icc");
r.VariantIn(kept.VariantOut);
check("KeepMetadataParts keeps EXIF without KeepMetadata", r.Orientation, 6);
checkError("KeepMetadataParts with an unknown name", function () { kept.KeepMetadataParts = "gps,faces"; },
  "KeepMetadataParts takes a comma list of exif, gps, iptc, xmp and icc.");
check("a refused list leaves the setting", kept.KeepMetadataParts, "exif,icc");
checkDispatchError("Orientation is read-only", function () { r.Orientation = 3; }, "80020003");

// LoadThumbnail ends where a load followed by ResizeBox ends, by name and by bytes.
section("IResize2 LoadThumbnail");
var boxes = [[200, 200], [64, 0], [-5, 40], [1000, 1000]];
for (var i = 0; i < boxes.length; ++i) {
  var exact = loaded("photo_1000x750.jpg");
  exact.ResizeBox(boxes[i][0], boxes[i][1]);
  var thumb = new ActiveXObject(PROG_ID);
  thumb.LoadThumbnail(path("photo_1000x750.jpg"), boxes[i][0], boxes[i][1]);
  checkSize("LoadThumbnail by name into " + boxes[i].join(" x "), thumb, exact.Width, exact.Height);
  thumb.LoadThumbnail(loaded("photo_1000x750.jpg").VariantOut, boxes[i][0], boxes[i][1]);
  checkSize("LoadThumbnail by bytes into " + boxes[i].join(" x "), thumb, exact.Width, exact.Height);
}
thumb = loaded("photo_100x80.jpg");
checkError("LoadThumbnail of a missing file",
           function () { thumb.LoadThumbnail(path("missing.jpg"), 50, 50); }, NOT_FOUND);
checkError("LoadThumbnail of a text file",
           function () { thumb.LoadThumbnail(path("notjpeg.jpg"), 50, 50); }, "Invalid file.");
checkSize("a failed LoadThumbnail keeps the image", thumb, 100, 80);

// FillBox cuts along the gravity; LoadThumbnail with Fit "cover" fills its box.
section("IResize3 fitting");
r = loaded("photo_640x480.jpg");
r.Gravity = "attention";
check("Gravity", r.Gravity, "attention");
r.FillBox(150, 300);
checkSize("FillBox", r, 150, 300);
checkError("an unknown Fit", function () { r.Fit = "stretch"; }, "Unsupported fit.");
check("Sharpen type", typeof r.Sharpen, "number");
r = new ActiveXObject(PROG_ID);
r.Fit = "Cover";
r.LoadThumbnail(loaded("photo_1000x750.jpg").VariantOut, 90, 160);
checkSize("LoadThumbnail by bytes with Fit cover", r, 90, 160);

// IResize3: a name in any case chooses the output format; another name is refused.
section("IResize3 OutputFormat");
r = loaded("photo_100x80.jpg");
r.OutputFormat = "WEBP";
check("OutputFormat WEBP", r.OutputFormat, "webp");
check("ContentType of WebP", r.ContentType, "image/webp");
checkError("OutputFormat gif", function () { r.OutputFormat = "gif"; }, "Unsupported output format.");
check("a refused OutputFormat keeps the format", r.OutputFormat, "webp");

// IResize3: ConvertToSRGB converts through the embedded profile, which ColorProfile names.
section("IResize3 ConvertToSRGB");
r = new ActiveXObject(PROG_ID);
check("ConvertToSRGB is off by default", r.ConvertToSRGB, false);
r.ConvertToSRGB = true;
r.LoadFromFile(path("adobe_rgb.jpg"));
check("ColorProfile names the embedded profile", r.ColorProfile, "Compatible with Adobe RGB (1998)");
r = loaded("photo_100x80.jpg");
check("ColorProfile without a profile", r.ColorProfile, "");

WScript.Echo(passed + " passed, " + failed + " failed");
