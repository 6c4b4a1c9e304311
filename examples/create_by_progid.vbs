' Creates every class of Tarn and Holm by ProgID from VBScript (Windows,
' after "regsvr32 libtarn.dll" and "regsvr32 libholm.dll"), as script and
' Visual Basic clients find them, and prints one line per class. Run with:
'   cscript //nologo create_by_progid.vbs
' A 32-bit script host (C:\Windows\SysWOW64\cscript.exe on 64-bit Windows)
' finds the classes that the 32-bit regsvr32 registered, the 64-bit host
' those of the 64-bit one.
'
' The download object (BRENTAR.TARN) has no automation interface: a script
' cannot create it (error 430, "Class doesn't support Automation"), and
' clients call it through its own interfaces (see client.cpp). S19Support
' answers IDispatch but has no methods for scripts. Error 429 means that
' the class is not registered for the script host's width.
Option Explicit

Dim progIds, progId, obj
progIds = Array("Brenlow.S19SUPPORT", "Brenlow.PROGRESSER", "Brenlow.HCPORTSETTINGS", _
                "Brenlow.HCONLYPORT", "Brenlow.HCBAUDPORT", "BRENTAR.TARN")
On Error Resume Next
For Each progId In progIds
  Err.Clear
  Set obj = CreateObject(progId)
  Select Case Err.Number
    Case 0
      WScript.Echo progId & ": created"
    Case 429
      WScript.Echo progId & ": not registered"
    Case 430
      WScript.Echo progId & ": no automation interface"
    Case Else
      WScript.Echo progId & ": error " & Err.Number & ": " & Err.Description
  End Select
  Set obj = Nothing
Next
