' The automation objects of Holm from VBScript (Windows, after
' "regsvr32 libholm.dll"): the serial settings dialog and the progress
' window. Run with: cscript //nologo port_and_progress.vbs
'
' CDownload and S19Support have no automation interface; script clients
' reach the pager through a small client of their own (see client.cpp).
Option Explicit

Dim settings, dialog, progress, i

' "Change" shows the modal "Serial Communication Setup" dialog preset from
' the string and rewrites the string on OK (unchanged on Cancel).
settings = "device = COM2 baud = 4800 parity = even"
Set dialog = CreateObject("Brenlow.HCPORTSETTINGS")
dialog.Change settings
WScript.Echo "Port settings: " & settings

' Progress: two weighted steps, percentages inside the current step. The
' methods take 32-bit integers, hence CLng.
Set progress = CreateObject("Brenlow.PROGRESSER")
progress.AddStep CLng(30), "Erasing", "Download"
progress.AddStep CLng(70), "Writing", ""
progress.Show
For i = 0 To 100 Step 10
  progress.SetProgressPercent CLng(i)
  WScript.Sleep 50
Next
progress.NextStep
For i = 0 To 70 Step 7
  progress.SetProgress CLng(i)
  WScript.Sleep 50
Next
progress.NextStep
progress.Hide

Set progress = Nothing
Set dialog = Nothing
