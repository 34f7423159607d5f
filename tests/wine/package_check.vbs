' What a first page does with a freshly registered module: create the object by its ProgID, load
' a photo, fit it into 200 x 200 and save it.
' Usage: cscript package_check.vbs IN_JPEG OUT_JPEG VERSION      The last line is "N passed, M failed".
Option Explicit
Dim passed, failed, resize
passed = 0
failed = 0

Sub Expect(name, actual, expected)
  If actual = expected Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAIL " & name & ": got [" & actual & "], expected [" & expected & "]"
  End If
End Sub

On Error Resume Next
Set resize = CreateObject("Quorvex.Resize")
Expect "CreateObject", Err.Description, ""
If Err.Number = 0 Then
  Expect "Version", resize.Version, "Quorvex " & WScript.Arguments(2) & "."
  resize.LoadFromFile WScript.Arguments(0)
  Expect "LoadFromFile", Err.Description, ""
  resize.ResizeBox 200, 200
  Expect "ResizeBox", Err.Description, ""
  Expect "width after ResizeBox", resize.Width, 200
  resize.SaveToFile WScript.Arguments(1)
  Expect "SaveToFile", Err.Description, ""
End If
WScript.Echo passed & " passed, " & failed & " failed"
