' The Resize object as a VBScript page sees it: creation by ProgID, properties and their clamping,
' names in any case, loads, transforms and saves on real files, and every failure as Err shows
' it (number, source, description).
' Usage: cscript //nologo resize_suite.vbs WORK_DIR VERSION   (WORK_DIR holds make_inputs.py's files)
' The host exits 0 even when a script dies, so the last line, "N passed, M failed", is the verdict.
Option Explicit

Const ProgID = "Quorvex.Resize"
Const Unexpected = "8000FFFF"
Const NoImage = "No image loaded."
Const NotFound = "File not found or permission incorrect."
Const VariantInFailed = "VariantIn has failed to read an image."

Dim passed, failed, work, fso, versionText
passed = 0
failed = 0
work = WScript.Arguments(0)
versionText = "Quorvex " & WScript.Arguments(1) & "."
Set fso = CreateObject("Scripting.FileSystemObject")

Sub Check(name, actual, expected)
  If actual = expected Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & name & ": got [" & actual & "], expected [" & expected & "]"
  End If
End Sub

Sub CheckSize(name, r, width, height)
  Check name & " (size)", r.Width & "x" & r.Height, width & "x" & height
End Sub

' What the page author sees for a failure of the object itself.
Sub CheckError(name, number, source, description, expected)
  Check name & " (Err.Number)", Hex(number), Unexpected
  Check name & " (Err.Source)", source, ProgID
  Check name & " (Err.Description)", description, expected
End Sub

Function Path(name)
  Path = work & "\" & name
End Function

' Temporary files that a save left beside its target.
Function Leftovers()
  Dim f
  Leftovers = 0
  For Each f In fso.GetFolder(work).Files
    If Left(f.Name, 9) = ".quorvex-" Then Leftovers = Leftovers + 1
  Next
End Function

Function Loaded(name)
  Dim r
  Set r = CreateObject(ProgID)
  r.LoadFromFile Path(name)
  Set Loaded = r
End Function

' Where a script dies, the last section line tells where.
Sub Section(title)
  WScript.Echo "-- " & title
End Sub

Dim r, r2, data, name, size95, size10, ts, sizePlain

' A new object and its properties. OLE_COLOR arrives as VT_UI4, which Wine's VBScript converts
' but cannot compare: hence CLng.
Section "properties"
Set r = CreateObject(ProgID)
Check "TypeName", TypeName(r), "IResize3"
CheckSize "new object", r, 0, 0
Check "new DPI", r.DPI, 0
Check "new JPGQuality", r.JPGQuality, 90
Check "new GrayScale", r.GrayScale, False
Check "new GrayScale type", TypeName(r.GrayScale), "Boolean"
Check "new GreyScale", r.GreyScale, False
Check "new BackgroundColor", CLng(r.BackgroundColor), &HFFFFFF
Check "Version", r.Version, versionText
Check "Version type", TypeName(r.Version), "String"
Check "Width type", TypeName(r.Width), "Long"

r.JPGQuality = 150
Check "JPGQuality 150", r.JPGQuality, 100
r.JPGQuality = -5
Check "JPGQuality -5", r.JPGQuality, 0
r.JPGQuality = 55
Check "JPGQuality 55", r.JPGQuality, 55
r.DPI = 70000
Check "DPI 70000", r.DPI, 65535
r.DPI = -1
Check "DPI -1", r.DPI, 0
r.DPI = 300
Check "DPI 300", r.DPI, 300
r.GreyScale = 7
Check "GreyScale 7 makes GrayScale true", r.GrayScale, True
Check "GrayScale true reads -1", CInt(r.GrayScale), -1
r.GrayScale = 0
Check "GrayScale 0 makes GreyScale false", r.GreyScale, False
r.GrayScale = True
Check "GrayScale True", r.GreyScale, True
r.BackgroundColor = &H123456
Check "BackgroundColor stored unchanged", CLng(r.BackgroundColor), &H123456
r.BackgroundColor = 0
Check "BackgroundColor 0", CLng(r.BackgroundColor), 0

' Names are found whatever their case.
Section "names"
r.jpgquality = 42
Check "jpgquality", r.JPGQUALITY, 42
r.dpi = 96
Check "dpi", r.Dpi, 96
r.GREYSCALE = False
Check "GREYSCALE", r.grayscale, False
Check "width", r.width, 0
Check "VERSION", r.VERSION, versionText

' Loading takes the size and the grayscale flag along.
Section "loading"
Set r = Loaded("photo_1000x750.jpg")
CheckSize "LoadFromFile", r, 1000, 750
Check "colour file GrayScale", r.GrayScale, False
Set r = CreateObject(ProgID)
r.loadfromfile Path("gray.jpg")
CheckSize "loadfromfile in lower case", r, 64, 48
Check "gray file GrayScale", r.GrayScale, True

' ResizeImage.
Section "ResizeImage"
Set r = Loaded("photo_1000x750.jpg")
r.ResizeImage 0, 100
CheckSize "ResizeImage 0, 100", r, 133, 100
Set r = Loaded("photo_1000x750.jpg")
r.ResizeImage 200, 0
CheckSize "ResizeImage 200, 0", r, 200, 150
r.ResizeImage -5, 0
CheckSize "ResizeImage -5, 0 changes nothing", r, 200, 150
r.ResizeImage 0, 0
CheckSize "ResizeImage 0, 0 changes nothing", r, 200, 150
r.ResizeImage 300, 300
CheckSize "ResizeImage 300, 300", r, 300, 300
Set r = CreateObject(ProgID)
r.ResizeImage 100, 100
CheckSize "ResizeImage with nothing loaded", r, 0, 0

' ScaleImage.
Section "ScaleImage"
Set r = Loaded("photo_1001x751.jpg")
r.ScaleImage 50
CheckSize "ScaleImage 50", r, 500, 375
r.ScaleImage 0
r.ScaleImage -20
CheckSize "ScaleImage 0 and -20 change nothing", r, 500, 375
Set r = Loaded("photo_100x80.jpg")
r.ScaleImage 250
CheckSize "ScaleImage 250", r, 250, 200
Set r = Loaded("photo_100x80.jpg")
r.ScaleImage 100
CheckSize "ScaleImage 100", r, 100, 80

' ResizeBox.
Section "ResizeBox"
Set r = Loaded("photo_640x480.jpg")
r.ResizeBox 800, 600
CheckSize "ResizeBox 800, 600 never enlarges", r, 640, 480
r.ResizeBox 640, 480
CheckSize "ResizeBox 640, 480", r, 640, 480
r.ResizeBox 0, 100
CheckSize "ResizeBox with a zero side", r, 640, 480
r.ResizeBox 320, 320
CheckSize "ResizeBox 320, 320", r, 320, 240
Set r = Loaded("photo_640x480.jpg")
r.ResizeBox 1000, 100
CheckSize "ResizeBox 1000, 100", r, 133, 100
Set r = Loaded("photo_800x600.jpg")
r.ResizeBox 400, 300
CheckSize "ResizeBox 400, 300 (equal ratios)", r, 400, 300

' RotateImage, CropImage and the flips (their pixels are checked from the saved files).
Section "rotation, crop and flips"
Set r = Loaded("photo_1000x750.jpg")
r.RotateImage 90
CheckSize "RotateImage 90", r, 750, 1000
r.RotateImage 0
CheckSize "RotateImage 0", r, 750, 1000
r.RotateImage -90
CheckSize "RotateImage -90", r, 1000, 750
Set r = Loaded("quadrants.jpg")
r.RotateImage 45
CheckSize "RotateImage 45", r, 141, 141
Set r = Loaded("quadrants.jpg")
r.RotateImage 90
r.SaveToFile Path("out_rotate90.jpg")
Set r = Loaded("quadrants.jpg")
r.FlipHorizontal
CheckSize "FlipHorizontal", r, 100, 100
r.SaveToFile Path("out_fliph.jpg")
Set r = Loaded("quadrants.jpg")
r.FlipVertical
CheckSize "FlipVertical", r, 100, 100
r.SaveToFile Path("out_flipv.jpg")
Set r = Loaded("photo_1000x750.jpg")
r.CropImage 100, 80, 20, 10
CheckSize "CropImage 100, 80, 20, 10", r, 80, 70
Set r = Loaded("photo_1000x750.jpg")
r.CropImage 20, 10, 100, 80
CheckSize "CropImage 20, 10, 100, 80", r, 80, 70
Set r = Loaded("quadrants.jpg")
r.BackgroundColor = &HFF00FF
r.CropImage -10, -10, 10, 10
CheckSize "CropImage -10, -10, 10, 10", r, 20, 20
r.SaveToFile Path("out_crop.jpg")

' Saving: settings reach the file, a load takes them back, a save replaces the file whole.
Section "saving"
Set r = Loaded("photo_640x480.jpg")
r.DPI = 300
r.JPGQuality = 95
r.SaveToFile Path("out_dpi300.jpg")
Set r2 = Loaded("out_dpi300.jpg")
CheckSize "reloaded save", r2, 640, 480
Check "reloaded DPI", r2.DPI, 300
Check "reloaded GrayScale", r2.GrayScale, False
size95 = fso.GetFile(Path("out_dpi300.jpg")).Size
r.JPGQuality = 10
r.SaveToFile Path("out_dpi300.jpg")
size10 = fso.GetFile(Path("out_dpi300.jpg")).Size
Check "quality 10 replaces the quality 95 file with a smaller one", size10 < size95, True
r.GrayScale = True
r.SaveToFile Path("out_gray.jpg")
Set r2 = Loaded("out_gray.jpg")
Check "saved grayscale reloads as grayscale", r2.GrayScale, True
name = "caf" & Chr(233) & ".jpg"
r.SaveToFile Path(name)
Check "a name outside ASCII exists", fso.FileExists(Path(name)), True
Set r2 = Loaded(name)
CheckSize "a name outside ASCII loads", r2, 640, 480
Check "no temporary files left beside the saved ones", Leftovers(), 0

' Byte arrays: VariantOut into VariantIn, by reference (a variable) and by value.
Section "byte arrays"
Set r = Loaded("photo_640x480.jpg")
data = r.VariantOut
Check "VariantOut type", VarType(data), vbArray + vbByte
Set r2 = CreateObject(ProgID)
r2.VariantIn data
CheckSize "VariantIn of a variable", r2, 640, 480
Set r2 = CreateObject(ProgID)
r2.VariantIn (data)
CheckSize "VariantIn of a value", r2, 640, 480
Set r2 = CreateObject(ProgID)
r2.VariantIn r.VariantOut
CheckSize "VariantIn of VariantOut", r2, 640, 480

' Failures of the object itself: result, source and description as the page author sees them.
Section "failures"
On Error Resume Next

Set r = CreateObject(ProgID)
r.SaveToFile Path("never.jpg")
CheckError "SaveToFile on a new object", Err.Number, Err.Source, Err.Description, NoImage
Err.Clear
Check "SaveToFile on a new object creates no file", fso.FileExists(Path("never.jpg")), False

data = Empty
data = r.VariantOut
CheckError "VariantOut on a new object", Err.Number, Err.Source, Err.Description, NoImage
Err.Clear
Check "VariantOut on a new object gives nothing", IsEmpty(data), True

r.StreamImage
CheckError "StreamImage on a new object", Err.Number, Err.Source, Err.Description, NoImage
Err.Clear

r.ScaleImage 50
CheckError "ScaleImage 50 on a new object", Err.Number, Err.Source, Err.Description, "Division by zero"
Err.Clear

Set r = Loaded("photo_1000x750.jpg")
r.LoadFromFile Path("missing.jpg")
CheckError "LoadFromFile of a missing file", Err.Number, Err.Source, Err.Description, NotFound
Err.Clear
r.LoadFromFile Path("folder.jpg")
CheckError "LoadFromFile of a directory", Err.Number, Err.Source, Err.Description, NotFound
Err.Clear
r.LoadFromFile ""
CheckError "LoadFromFile of an empty name", Err.Number, Err.Source, Err.Description, NotFound
Err.Clear
r.LoadFromFile Path("notjpeg.jpg")
CheckError "LoadFromFile of a text file", Err.Number, Err.Source, Err.Description, "Invalid file."
Err.Clear
CheckSize "a failed load keeps the image", r, 1000, 750

' Another handle holds the file without sharing it: it exists but cannot be opened.
fso.CopyFile Path("gray.jpg"), Path("locked.jpg")
Set ts = fso.OpenTextFile(Path("locked.jpg"), 8)
r.LoadFromFile Path("locked.jpg")
CheckError "LoadFromFile of a locked file", Err.Number, Err.Source, Err.Description, _
    "Cannot open file - the permission may be incorrect."
Err.Clear
ts.Close
CheckSize "a file that could not be opened keeps the image", r, 1000, 750

r.SaveToFile Path("no such dir\out.jpg")
CheckError "SaveToFile into a missing directory", Err.Number, Err.Source, Err.Description, _
    "Cannot write file: " & Path("no such dir\out.jpg")
Err.Clear
r.SaveToFile Path("folder.jpg")
CheckError "SaveToFile onto a directory", Err.Number, Err.Source, Err.Description, _
    "Cannot write file: " & Path("folder.jpg")
Err.Clear
' The data is written beside the target first; putting it in place is what fails here.
r.SaveToFile Path("bad?name.jpg")
CheckError "SaveToFile to a name Windows refuses", Err.Number, Err.Source, Err.Description, _
    "Cannot write file: " & Path("bad?name.jpg")
Err.Clear
Check "a failed save leaves no temporary file", Leftovers(), 0

r.StreamImage
CheckError "StreamImage outside a web request", Err.Number, Err.Source, Err.Description, _
    "StreamImage needs a web request: there is no object context."
Err.Clear

r.VariantIn "not an array"
CheckError "VariantIn of a string", Err.Number, Err.Source, Err.Description, "Invalid argument"
Err.Clear
r.VariantIn 5
CheckError "VariantIn of a number", Err.Number, Err.Source, Err.Description, "Invalid argument"
Err.Clear
r.VariantIn Array(1, 2, 3)
CheckError "VariantIn of an array of variants", Err.Number, Err.Source, Err.Description, _
    VariantInFailed
Err.Clear
CheckSize "failed VariantIn keeps the image", r, 1000, 750

Set r = Loaded("photo_50x50.jpg")
r.ScaleImage 1
CheckError "ScaleImage 1 on 50 x 50", Err.Number, Err.Source, Err.Description, "Division by zero"
Err.Clear
CheckSize "failed ScaleImage keeps the image", r, 50, 50

Set r = Loaded("photo_100x10.jpg")
r.ResizeImage 1, 0
CheckError "ResizeImage 1, 0 on 100 x 10", Err.Number, Err.Source, Err.Description, "Division by zero"
Err.Clear
r.ResizeBox 1, 100
CheckError "ResizeBox whose inner ResizeImage fails", Err.Number, Err.Source, Err.Description, _
    "Division by zero"
Err.Clear
CheckSize "failed ResizeBox keeps the image", r, 100, 10

Set r = Loaded("photo_100x80.jpg")
r.ResizeImage 20000, 20000
CheckError "ResizeImage beyond the largest raster", Err.Number, Err.Source, Err.Description, _
    "Out of memory"
Err.Clear
CheckSize "a refused raster keeps the image", r, 100, 80

Set r = Loaded("photo_1000x750.jpg")
r.CropImage 5, 0, 5, 10
CheckSize "CropImage 5, 0, 5, 10", r, 0, 10
r.SaveToFile Path("zero_width.jpg")
CheckError "SaveToFile after a crop to width 0", Err.Number, Err.Source, Err.Description, NoImage
Err.Clear
r.ResizeImage 100, 0
CheckError "ResizeImage deriving from width 0", Err.Number, Err.Source, Err.Description, _
    "Division by zero"
Err.Clear

' Failures of the dispatch itself: the member's body never runs.
Section "dispatch failures"
Set r = Loaded("photo_100x80.jpg")
r.NoSuchMember
Check "unknown name", Err.Number, 438
Err.Clear
r.ResizeImage 1
Check "wrong argument count", Err.Number, 450
Err.Clear
r.ResizeImage "wide", 2
Check "argument that cannot be converted", Err.Number, 13
Err.Clear
CheckSize "the object stays usable after failures", r, 100, 80
On Error GoTo 0

' IResize2: its properties from a new object, their round trips and what a load sets.
Section "IResize2 properties"
Const DefaultMaxPixels = 268402689
Set r = CreateObject(ProgID)
Check "new AutoOrient", r.AutoOrient, False
Check "AutoOrient type", TypeName(r.AutoOrient), "Boolean"
Check "new Orientation", r.Orientation, 1
Check "new KeepMetadata", r.KeepMetadata, False
Check "new MaxPixels", r.MaxPixels, DefaultMaxPixels
Check "MaxPixels type", TypeName(r.MaxPixels), "Long"
Check "new Progressive", r.Progressive, False
Check "new OptimizeCoding", r.OptimizeCoding, False
Check "new SourceQuality", r.SourceQuality, 0
r.AutoOrient = True
Check "AutoOrient True", r.AutoOrient, True
r.autoorient = 0
Check "autoorient 0", r.AUTOORIENT, False
r.KeepMetadata = True
Check "KeepMetadata True", r.KeepMetadata, True
r.KeepMetadata = False
Check "KeepMetadata False", r.KeepMetadata, False
r.MaxPixels = 1000
Check "MaxPixels 1000", r.MaxPixels, 1000
r.MaxPixels = 0
Check "MaxPixels 0 restores the limit", r.MaxPixels, DefaultMaxPixels
r.MaxPixels = 7
r.MaxPixels = -1
Check "MaxPixels -1 restores the limit", r.MaxPixels, DefaultMaxPixels
r.MaxPixels = 2147483647
Check "MaxPixels above the limit is cut to it", r.MaxPixels, DefaultMaxPixels
r.Progressive = True
Check "Progressive True", r.Progressive, True
r.Progressive = False
Check "Progressive False", r.Progressive, False
r.OptimizeCoding = True
Check "OptimizeCoding True", r.OptimizeCoding, True
r.OptimizeCoding = False
Check "OptimizeCoding False", r.OptimizeCoding, False
Set r = Loaded("photo_640x480.jpg")
Check "SourceQuality of a quality 92 file", r.SourceQuality, 92
Check "Orientation of a file without EXIF", r.Orientation, 1
r.JPGQuality = 75
r.SaveToFile Path("out_q75.jpg")
Check "SourceQuality of the object's own quality 75 file", Loaded("out_q75.jpg").SourceQuality, 75

' Results over MaxPixels are refused as allocations, loads over it as invalid files.
Section "IResize2 MaxPixels"
On Error Resume Next
Set r = Loaded("photo_100x80.jpg")
r.MaxPixels = 7999
r.ResizeImage 101, 80
CheckError "ResizeImage over MaxPixels", Err.Number, Err.Source, Err.Description, "Out of memory"
Err.Clear
r.ScaleImage 150
CheckError "ScaleImage over MaxPixels", Err.Number, Err.Source, Err.Description, "Out of memory"
Err.Clear
r.RotateImage 90
CheckError "RotateImage over MaxPixels", Err.Number, Err.Source, Err.Description, "Out of memory"
Err.Clear
r.CropImage 0, 0, 100, 80
CheckError "CropImage over MaxPixels", Err.Number, Err.Source, Err.Description, "Out of memory"
Err.Clear
CheckSize "refused transforms keep the image", r, 100, 80
r.ResizeBox 50, 50
Check "ResizeBox within MaxPixels", Err.Number, 0
CheckSize "ResizeBox within MaxPixels", r, 50, 40
data = Loaded("photo_100x80.jpg").VariantOut
r.LoadFromFile Path("photo_100x80.jpg")
CheckError "LoadFromFile over MaxPixels", Err.Number, Err.Source, Err.Description, "Invalid file."
Err.Clear
r.VariantIn data
CheckError "VariantIn over MaxPixels", Err.Number, Err.Source, Err.Description, VariantInFailed
Err.Clear
CheckSize "refused loads keep the image", r, 50, 40
r.MaxPixels = 8000
r.LoadFromFile Path("photo_100x80.jpg")
r.RotateImage 90
Check "a load and a rotation at MaxPixels", Err.Number, 0
CheckSize "a load and a rotation at MaxPixels", r, 80, 100
On Error GoTo 0

' The encoder options; check_outputs.py reads the files back.
Section "IResize2 output"
Set r = Loaded("photo_640x480.jpg")
r.SaveToFile Path("out_plain.jpg")
r.Progressive = True
r.SaveToFile Path("out_progressive.jpg")
r.Progressive = False
r.OptimizeCoding = True
r.SaveToFile Path("out_optimized.jpg")
sizePlain = fso.GetFile(Path("out_plain.jpg")).Size
Check "OptimizeCoding writes a smaller file", fso.GetFile(Path("out_optimized.jpg")).Size < sizePlain, True


' Turning pictures upright by their EXIF orientation and keeping their metadata. oriented_N.jpg
' shows a 100 x 60 picture upright under Orientation N; check_outputs.py reads the saved files.
Section "orientation and metadata"
Dim n, kept, plain
Set r = CreateObject(ProgID)
Check "new AutoOrient", r.AutoOrient, False
Check "new AutoOrient type", TypeName(r.AutoOrient), "Boolean"
Check "new KeepMetadata", r.KeepMetadata, False
Check "new Orientation", r.Orientation, 1
Check "Orientation type", TypeName(r.Orientation), "Long"
For n = 1 To 8
  Set r = CreateObject(ProgID)
  r.autoorient = True
  r.LoadFromFile Path("oriented_" & n & ".jpg")
  Check "Orientation of oriented_" & n, r.Orientation, n
  CheckSize "AutoOrient of oriented_" & n, r, 100, 60
  r.SaveToFile Path("out_upright_" & n & ".jpg")
  Set r = Loaded("oriented_" & n & ".jpg")
  Check "Orientation without AutoOrient " & n, r.Orientation, n
  If n >= 5 Then CheckSize "stored oriented_" & n, r, 60, 100 Else CheckSize "stored oriented_" & n, r, 100, 60
Next
Set r = CreateObject(ProgID)
r.AutoOrient = True
r.LoadThumbnail Path("oriented_6.jpg"), 50, 50
CheckSize "LoadThumbnail with AutoOrient", r, 50, 30
r.VariantIn Loaded("photo_100x80.jpg").VariantOut
Check "a load without EXIF has Orientation 1", r.Orientation, 1

' KeepMetadata writes the fields back; without it nothing comes along.
Set kept = CreateObject(ProgID)
kept.KeepMetadata = True
kept.LoadFromFile Path("tagged.jpg")
Check "KeepMetadata set", kept.KeepMetadata, True
data = kept.VariantOut
Set r = CreateObject(ProgID)
r.AutoOrient = True
r.VariantIn data
Check "kept Orientation read back", r.Orientation, 6
CheckSize "kept Orientation turns the copy", r, 100, 60
kept.AutoOrient = True
kept.LoadFromFile Path("tagged.jpg")
kept.ResizeBox 50, 50
kept.SaveToFile Path("out_kept.jpg")
Set plain = Loaded("tagged.jpg")
plain.SaveToFile Path("out_not_kept.jpg")
Set r = CreateObject(ProgID)
r.VariantIn plain.VariantOut
Check "no Orientation without KeepMetadata", r.Orientation, 1
' KeepMetadataParts keeps the kinds it lists, whatever KeepMetadata says: without exif, no
' Orientation comes along.
plain.KeepMetadata = True
plain.KeepMetadataParts = "IPTC,icc"
Check "KeepMetadataParts in its own order", plain.KeepMetadataParts, "iptc,icc"
r.VariantIn plain.VariantOut
Check "no Orientation without exif in KeepMetadataParts", r.Orientation, 1

On Error Resume Next
r.Orientation = 3
Check "Orientation is read-only", Err.Number <> 0, True
Err.Clear
On Error GoTo 0

' LoadThumbnail ends where a load followed by ResizeBox ends, by name and by bytes, and fails
' with the load's messages, keeping the picture it had.
Section "IResize2 LoadThumbnail"
Dim box, exact, thumb
For Each box In Array(Array(200, 200), Array(64, 0), Array(-5, 40), Array(1000, 1000))
  Set exact = Loaded("photo_1000x750.jpg")
  exact.ResizeBox box(0), box(1)
  Set thumb = CreateObject(ProgID)
  thumb.LoadThumbnail Path("photo_1000x750.jpg"), box(0), box(1)
  CheckSize "LoadThumbnail by name into " & box(0) & " x " & box(1), thumb, exact.Width, exact.Height
  thumb.LoadThumbnail Loaded("photo_1000x750.jpg").VariantOut, box(0), box(1)
  CheckSize "LoadThumbnail by bytes into " & box(0) & " x " & box(1), thumb, exact.Width, exact.Height
Next
On Error Resume Next
Set thumb = Loaded("photo_100x80.jpg")
thumb.LoadThumbnail Path("missing.jpg"), 50, 50
CheckError "LoadThumbnail of a missing file", Err.Number, Err.Source, Err.Description, NotFound
Err.Clear
thumb.LoadThumbnail Path("notjpeg.jpg"), 50, 50
CheckError "LoadThumbnail of a text file", Err.Number, Err.Source, Err.Description, "Invalid file."
Err.Clear
CheckSize "a failed LoadThumbnail keeps the image", thumb, 100, 80
On Error GoTo 0

' IResize3: FillBox and the settings that shape it; LoadThumbnail filling its box.
Section "IResize3 fitting"
Set r = Loaded("photo_640x480.jpg")
Check "new Gravity", r.Gravity, "center"
Check "new Fit", r.Fit, "inside"
Check "new Sharpen", r.Sharpen, 0
Check "Sharpen type", TypeName(r.Sharpen), "Double"
r.Gravity = "South"
Check "Gravity in any case", r.Gravity, "south"
r.Sharpen = 1
r.FillBox 200, 100
CheckSize "FillBox", r, 200, 100
On Error Resume Next
r.Gravity = "up"
CheckError "an unknown Gravity", Err.Number, Err.Source, Err.Description, "Unsupported gravity."
Err.Clear
On Error GoTo 0
Check "a refused Gravity changes nothing", r.Gravity, "south"
Set r = CreateObject(ProgID)
r.Fit = "cover"
r.LoadThumbnail Path("photo_1000x750.jpg"), 120, 120
CheckSize "LoadThumbnail with Fit cover", r, 120, 120

' IResize3: the output format, the media type StreamImage sends with it, and the files it writes
' (check_outputs.py reads them). This DLL has no AV1 encoder: "avif" is refused.
Section "IResize3 OutputFormat"
Set r = Loaded("photo_640x480.jpg")
Check "new OutputFormat", r.OutputFormat, "jpeg"
Check "new ContentType", r.ContentType, "Image/jpeg"
r.DPI = 300
r.OutputFormat = "PNG"
Check "OutputFormat PNG", r.OutputFormat, "png"
Check "ContentType of PNG", r.ContentType, "image/png"
r.SaveToFile Path("out_format.png")
r.OutputFormat = "webp"
r.SaveToFile Path("out_format.webp")
On Error Resume Next
r.OutputFormat = "avif"
CheckError "OutputFormat avif", Err.Number, Err.Source, Err.Description, "Unsupported output format."
Err.Clear
On Error GoTo 0
Check "a refused OutputFormat keeps the format", r.ContentType, "image/webp"

WScript.Echo passed & " passed, " & failed & " failed"
