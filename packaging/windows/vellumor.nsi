; The Windows setup: installs Vellumor for the current user, without administrator rights, into
; %LOCALAPPDATA%\Programs\Vellumor, with a Start-menu shortcut and an uninstaller listed under
; the user's installed programs. Built by packaging/windows/make-installer, which defines
;   VERSION  the product version ("2.6")
;   FILES    an include file with the macros InstallFiles and RemoveFiles, made from the ZIP's
;            folder so both artefacts carry the same files
;   ICON     the program's icon
;   OUTFILE  the setup program to write
Unicode true
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "${FILES}"

!define PRODUCT "Vellumor"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellumor"
!define OFFICE_KEY "SOFTWARE\LibreOffice\UNO\InstallPath"
!define OFFICE_DOWNLOAD "https://www.libreoffice.org/download/"
!define UNINSTALLER "uninstall.exe"
!define OFFICE_MISSING "LibreOffice is not installed on this computer.$\r$\n$\r$\n\
${PRODUCT} converts documents with LibreOffice (version 7 or later, 32- or 64-bit). Get it from$\r$\n\
${OFFICE_DOWNLOAD}$\r$\nand install it before you convert; ${PRODUCT} finds it by itself.$\r$\n$\r$\n\
Setup installs ${PRODUCT} now either way. Open the download page?"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An earlier version is replaced where it lies.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "See licences\LICENSE.txt"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Vellumor.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var OfficeFolder

; The office's program folder in $OfficeFolder when the default value of the key under ROOT
; names a folder that holds python.exe, which is what Vellumor runs its engine script with.
!macro OfficeInRegistry ROOT
    ${If} $OfficeFolder == ""
        ReadRegStr $0 ${ROOT} "${OFFICE_KEY}" ""
        ExpandEnvStrings $0 "$0"
        ${If} $0 != ""
        ${AndIf} ${FileExists} "$0\python.exe"
            StrCpy $OfficeFolder "$0"
        ${EndIf}
    ${EndIf}
!macroend

!macro OfficeInFolder FOLDER
    ${If} $OfficeFolder == ""
    ${AndIf} ${FileExists} "${FOLDER}\python.exe"
        StrCpy $OfficeFolder "${FOLDER}"
    ${EndIf}
!macroend

; Looks where Vellumor looks: the registry in both views (a 64-bit office on a 64-bit system)
; under the machine's and the user's keys, then Program Files of either kind.
Function FindOffice
    StrCpy $OfficeFolder ""
    SetRegView 64
    !insertmacro OfficeInRegistry HKLM
    !insertmacro OfficeInRegistry HKCU
    SetRegView 32
    !insertmacro OfficeInRegistry HKLM
    !insertmacro OfficeInRegistry HKCU
    SetRegView default
    !insertmacro OfficeInFolder "$PROGRAMFILES64\LibreOffice\program"
    !insertmacro OfficeInFolder "$PROGRAMFILES32\LibreOffice\program"
FunctionEnd

; A running Vellumor.exe cannot be replaced or removed: the user is asked to close it first. Put
; silently, the answer is Cancel and setup ends with exit code 2, having changed nothing.
!macro WaitForProgramClosed FOLDER
    ${If} ${FileExists} "${FOLDER}\Vellumor.exe"
        ${Do}
            ClearErrors
            FileOpen $9 "${FOLDER}\Vellumor.exe" a
            ${IfNot} ${Errors}
                FileClose $9
                ${Break}
            ${EndIf}
            ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is running from ${FOLDER}.$\r$\n$\r$\nClose it, then press Retry." /SD IDCANCEL IDRETRY`
                SetErrorLevel 2
                Quit
            ${EndIf}
        ${Loop}
    ${EndIf}
!macroend

Function .onInit
    SetShellVarContext current
    Call FindOffice
    ; A silent install goes on without asking; the install log still says it.
    ${If} $OfficeFolder == ""
        ${If} ${Cmd} `MessageBox MB_YESNO|MB_ICONINFORMATION "${OFFICE_MISSING}" /SD IDNO IDYES`
            ExecShell "open" "${OFFICE_DOWNLOAD}"
        ${EndIf}
    ${EndIf}
FunctionEnd

Section "${PRODUCT}"
    SetShellVarContext current
    ${If} $OfficeFolder == ""
        DetailPrint "LibreOffice is not installed: get it from ${OFFICE_DOWNLOAD}"
    ${Else}
        DetailPrint "LibreOffice found in $OfficeFolder"
    ${EndIf}

    ; An earlier version is taken away by its own uninstaller first, so files it had and this
    ; version has not go too. It runs in place (_?=) so that it can be waited for.
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    !insertmacro WaitForProgramClosed "$INSTDIR"
    ${If} $1 != ""
    ${AndIf} $1 != $INSTDIR
        !insertmacro WaitForProgramClosed "$1"
    ${EndIf}
    ${If} $1 != ""
    ${AndIf} ${FileExists} "$1\${UNINSTALLER}"
        DetailPrint "Removing the earlier version in $1"
        ExecWait '"$1\${UNINSTALLER}" /S _?=$1'
        Delete "$1\${UNINSTALLER}"
        RMDir "$1"
    ${EndIf}

    !insertmacro InstallFiles
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\Vellumor.exe" "" \
        "$INSTDIR\Vellumor.exe" 0 SW_SHOWNORMAL "" "Convert Word documents to PDF"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vellumor.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The ${PRODUCT} developers"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $2
SectionEnd

Function un.onInit
    SetShellVarContext current
    !insertmacro WaitForProgramClosed "$INSTDIR"
FunctionEnd

; Only the files setup put here go; anything else the user left in the folder stays, and so
; does the folder then.
Section "Uninstall"
    SetShellVarContext current
    !insertmacro RemoveFiles
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
SectionEnd
