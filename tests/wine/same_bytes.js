// Writes, for every case of same_bytes_cases.txt, the JPEG the component makes of the case's
// input with the case's operations, as OUT_DIR\NAME.jpg. The options are those of
// "quorvex convert", so that the native tool can make the same files for comparison.
// Usage: cscript same_bytes.js CASES_FILE INPUT_DIR OUT_DIR
// The last line is "N passed, M failed": a case passes when its file was written.
var args = WScript.Arguments;
var fso = new ActiveXObject("Scripting.FileSystemObject");
var passed = 0, failed = 0;

function apply(resize, option, value) {
  var n = value === undefined ? [] : value.split(/[x,]/);
  switch (option) {
    case "--quality": resize.JPGQuality = parseInt(value, 10); break;
    case "--dpi": resize.DPI = parseInt(value, 10); break;
    case "--gray": resize.GrayScale = true; break;
    case "--background": resize.BackgroundColor = parseInt(value, 16); break;
    case "--resize": resize.ResizeImage(parseInt(n[0], 10), parseInt(n[1], 10)); break;
    case "--scale": resize.ScaleImage(parseInt(value, 10)); break;
    case "--box": resize.ResizeBox(parseInt(n[0], 10), parseInt(n[1], 10)); break;
    case "--rotate": resize.RotateImage(parseFloat(value)); break;
    case "--crop":
      resize.CropImage(parseInt(n[0], 10), parseInt(n[1], 10), parseInt(n[2], 10),
                       parseInt(n[3], 10));
      break;
    case "--flip-horizontal": resize.FlipHorizontal(); break;
    case "--flip-vertical": resize.FlipVertical(); break;
    default: throw new Error("unknown option " + option);
  }
}

var takesValue = {"--quality": 1, "--dpi": 1, "--background": 1, "--resize": 1, "--scale": 1,
                  "--box": 1, "--rotate": 1, "--crop": 1};

var cases = fso.OpenTextFile(args(0), 1);
while (!cases.AtEndOfStream) {
  var line = cases.ReadLine().replace(/^\s+|\s+$/g, "");
  if (line === "" || line.charAt(0) === "#") continue;
  var words = line.split(/\s+/);
  try {
    var resize = new ActiveXObject("Quorvex.Resize");
    // A setting of the load, wherever it stands, as on the command line.
    for (var j = 2; j < words.length; j++) {
      if (words[j] === "--srgb") resize.ConvertToSRGB = true;
    }
    resize.LoadFromFile(args(1) + "\\" + words[1]);
    for (var i = 2; i < words.length; i++) {
      if (words[i] === "--srgb") continue;
      var eq = words[i].indexOf("=");
      if (eq > 0) {
        apply(resize, words[i].substring(0, eq), words[i].substring(eq + 1));
      } else if (takesValue[words[i]]) {
        apply(resize, words[i], words[++i]);
      } else {
        apply(resize, words[i]);
      }
    }
    resize.SaveToFile(args(2) + "\\" + words[0] + ".jpg");
    passed++;
  } catch (e) {
    failed++;
    WScript.Echo("FAIL " + words[0] + ": " + e.message);
  }
}
cases.Close();
WScript.Echo(passed + " passed, " + failed + " failed");
