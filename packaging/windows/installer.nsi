; The Windows installer of Tarn and Holm (makensis; see build_installer.sh).
;
; Installs the 64-bit DLLs (and tarnctl, when the build has it) into
; "Program Files\Tarn and Holm" and the 32-bit DLLs into
; "Program Files (x86)\Tarn and Holm", registers each DLL with the
; regsvr32 of its width, and writes an uninstaller that removes the
; classes registered for these files, the files and the folders. Silent
; with /S. Needs administrator rights (the classes go to the machine).
;
; Defines (from build_installer.sh): VERSION (x.y.z), SRC64 and SRC32 (the
; folders with libtarn.dll and libholm.dll), OUTFILE, and HAVE_TARNCTL when
; SRC64 holds tarnctl.exe.

Unicode true
; A 64-bit installer: the product needs 64-bit Windows, whose own folders
; and registry view the installer writes without redirection.
Target amd64-unicode
!include "LogicLib.nsh"
!include "x64.nsh"

!define PRODUCT "Tarn and Holm"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TarnHolm"
!define DIR64 "$PROGRAMFILES64\${PRODUCT}"
!define DIR32 "$PROGRAMFILES32\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
InstallDir "${DIR64}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Tarn and Holm developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Tarn and Holm developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Runs regsvr32 of the given width on a DLL; a failure aborts.
!macro Regsvr32 EXE DLL
  ClearErrors
  ExecWait '"${EXE}" /s "${DLL}"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    Abort "regsvr32 could not register ${DLL} (exit $0)"
  ${EndIf}
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Section "Install"
  ${DisableX64FSRedirection}
  SetOutPath "${DIR64}"
  File "${SRC64}/libtarn.dll"
  File "${SRC64}/libholm.dll"
  !ifdef HAVE_TARNCTL
    File "${SRC64}/tarnctl.exe"
  !endif
  WriteUninstaller "${DIR64}\uninstall.exe"
  !insertmacro Regsvr32 "$WINDIR\System32\regsvr32.exe" "${DIR64}\libtarn.dll"
  !insertmacro Regsvr32 "$WINDIR\System32\regsvr32.exe" "${DIR64}\libholm.dll"

  ; The 32-bit DLLs always: the existing clients are 32-bit programs, and
  ; 64-bit Windows runs them. A 32-bit regsvr32 that cannot run stops the
  ; installation with its message instead of leaving them out unseen.
  SetOutPath "${DIR32}"
  File "${SRC32}/libtarn.dll"
  File "${SRC32}/libholm.dll"
  !insertmacro Regsvr32 "$WINDIR\SysWOW64\regsvr32.exe" "${DIR32}\libtarn.dll"
  !insertmacro Regsvr32 "$WINDIR\SysWOW64\regsvr32.exe" "${DIR32}\libholm.dll"
  ${EnableX64FSRedirection}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarn and Holm developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "${DIR64}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"${DIR64}\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"${DIR64}\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes the class that PROGID names from the registry view of width
; VIEW (32 or 64) when its InprocServer32 is DLL (a file of this
; installation, which must still exist), by its long or short name; $R9
; becomes 1 when it did. The ProgID is read in the native view: a ProgID
; key is shared by both views (the 32-bit regsvr32 writes it there, and a
; 32-bit view of it may not exist), while each view has its own CLSID key.
!macro RemoveClass PROGID DLL VIEW
  SetRegView 64
  ReadRegStr $1 HKCR "${PROGID}\CLSID" ""
  SetRegView ${VIEW}
  ${If} $1 != ""
    ReadRegStr $2 HKCR "CLSID\$1\InprocServer32" ""
    ; The library may have registered its short (8.3) path.
    GetFullPathName /SHORT $3 "${DLL}"
    ${If} $2 == "${DLL}"
    ${OrIf} $2 == $3
      DeleteRegKey HKCR "CLSID\$1"
      StrCpy $R9 1
    ${EndIf}
  ${EndIf}
!macroend

; The classes of both libraries, in the view of one width. The libraries
; have no DllUnregisterServer, so the uninstaller removes what their
; DllRegisterServer wrote: the CLSID keys (one per view) and the ProgIDs.
!macro RemoveClasses DIR VIEW
  !insertmacro RemoveClass "BRENTAR.TARN" "${DIR}\libtarn.dll" ${VIEW}
  !insertmacro RemoveClass "Brenlow.S19SUPPORT" "${DIR}\libholm.dll" ${VIEW}
  !insertmacro RemoveClass "Brenlow.PROGRESSER" "${DIR}\libholm.dll" ${VIEW}
  !insertmacro RemoveClass "Brenlow.HCPORTSETTINGS" "${DIR}\libholm.dll" ${VIEW}
  !insertmacro RemoveClass "Brenlow.HCONLYPORT" "${DIR}\libholm.dll" ${VIEW}
  !insertmacro RemoveClass "Brenlow.HCBAUDPORT" "${DIR}\libholm.dll" ${VIEW}
!macroend

!macro RemoveProgIds
  DeleteRegKey HKCR "BRENTAR.TARN"
  DeleteRegKey HKCR "Brenlow.S19SUPPORT"
  DeleteRegKey HKCR "Brenlow.PROGRESSER"
  DeleteRegKey HKCR "Brenlow.HCPORTSETTINGS"
  DeleteRegKey HKCR "Brenlow.HCONLYPORT"
  DeleteRegKey HKCR "Brenlow.HCBAUDPORT"
!macroend

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  StrCpy $R9 0
  !insertmacro RemoveClasses "${DIR64}" 64
  !insertmacro RemoveClasses "${DIR32}" 32
  SetRegView 64
  ; ProgIDs: removed (in the native view) when a class of ours was.
  ${If} $R9 == 1
    !insertmacro RemoveProgIds
  ${EndIf}

  ${DisableX64FSRedirection}
  Delete "${DIR64}\libtarn.dll"
  Delete "${DIR64}\libholm.dll"
  Delete "${DIR64}\tarnctl.exe"
  Delete "${DIR64}\uninstall.exe"
  RMDir "${DIR64}"
  Delete "${DIR32}\libtarn.dll"
  Delete "${DIR32}\libholm.dll"
  RMDir "${DIR32}"
  ${EnableX64FSRedirection}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
