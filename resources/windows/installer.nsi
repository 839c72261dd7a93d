; The Windows installer of Quillet, made by makensis (Debian's nsis) from the
; folder that `cmake --install` fills:
;   makensis -DVERSION=2.2 -DSTAGE=<folder> -DOUTFILE=<setup.exe> installer.nsi
Unicode true
SetCompressor /SOLID lzma
!include "MUI2.nsh"

Name "Quillet ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quillet"
InstallDirRegKey HKCU "Software\Quillet\Install" "Folder"
RequestExecutionLevel user

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

Section "Quillet"
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\*.*"
    WriteRegStr HKCU "Software\Quillet\Install" "Folder" "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Quillet.lnk" "$INSTDIR\Revisor.exe"
    WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet" "DisplayName" "Quillet"
    WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet" "UninstallString" "$\"$INSTDIR\Uninstall.exe$\""
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\Quillet.lnk"
    RMDir /r "$INSTDIR"
    DeleteRegKey HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet"
    DeleteRegKey HKCU "Software\Quillet\Install"
SectionEnd
