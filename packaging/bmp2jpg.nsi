; The Windows setup program, made by the windows-installer target with
; makensis -DVERSION=... -DFILE_VERSION=a.b.c.d -DICON=<.ico> -DLISTS=<folder> -DOUTFILE=<setup.exe>.
; LISTS holds install.nsh, uninstall.nsh and size.nsh, written from the files
; `cmake --install` puts in a scratch prefix, so the setup installs exactly
; those and its uninstaller removes exactly those.
;
; Per-machine (Program Files, HKLM) when run by an administrator, per-user
; (%LOCALAPPDATA%\Programs, HKCU) otherwise or with /CurrentUser. /S installs
; and uninstalls silently; /D=<folder>, last on the command line, picks the
; folder.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel highest
ManifestDPIAware true

!include LogicLib.nsh
!include FileFunc.nsh
!include WinCore.nsh
!include MUI2.nsh
!include "${LISTS}/size.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\bmp2jpg"
!define SHORTCUT "$SMPROGRAMS\bmp2jpg.lnk"

Name "bmp2jpg"
OutFile "${OUTFILE}"
BrandingText "bmp2jpg ${VERSION}"

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "bmp2jpg"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "bmp2jpg setup"
VIAddVersionKey /LANG=0 "LegalCopyright" "bmp2jpg maintainers"

!define MUI_ABORTWARNING
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\bin\bmp2jpg.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The pages speak the user's Windows language where it is one of these.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

Function .onInit
  UserInfo::GetAccountType
  Pop $0
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/CurrentUser" $2
  ${If} $0 == "Admin"
  ${AndIf} ${Errors}
    SetShellVarContext all
    StrCpy $3 "$PROGRAMFILES64"
  ${Else}
    SetShellVarContext current
    GetKnownFolderPath $3 ${FOLDERID_UserProgramFiles}
    ${If} $3 == ""
      StrCpy $3 "$LOCALAPPDATA\Programs"
    ${EndIf}
  ${EndIf}
  ; /D= has set $INSTDIR already; only its absence gives the default.
  ${If} $INSTDIR == ""
    StrCpy $INSTDIR "$3\bmp2jpg"
  ${EndIf}
FunctionEnd

Section
  ; An earlier installation of the same kind goes first, wherever it is: no
  ; file of an older version stays behind, and one entry names one folder.
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  !include "${LISTS}/install.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetOutPath "$INSTDIR\bin"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\bin\bmp2jpg.exe"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "bmp2jpg"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "bmp2jpg maintainers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\bmp2jpg.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The uninstaller lies in the folder it was installed to; the entry, per
; machine or per user, that names that folder is its own; a folder no entry
; names (a copy, or one whose entry a later installation took) leaves them.
Var Registered

Function un.onInit
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    UserInfo::GetAccountType
    Pop $2
    ${If} $2 != "Admin"
      MessageBox MB_OK|MB_ICONSTOP "bmp2jpg was installed for all users of this computer: uninstalling it needs an administrator." /SD IDOK
      Abort
    ${EndIf}
    SetShellVarContext all
    StrCpy $Registered 1
  ${ElseIf} $1 == $INSTDIR
    SetShellVarContext current
    StrCpy $Registered 1
  ${EndIf}
FunctionEnd

; Only the files this setup installed are removed, and a folder only once it
; is empty: a folder chosen carelessly (one holding other files) keeps them.
Section "Uninstall"
  !include "${LISTS}/uninstall.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $Registered == 1
    Delete "${SHORTCUT}"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
