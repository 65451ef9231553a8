"""The application manifest as built into the test build's updater, which
Windows reads before the program runs: the controls' styles and the
display's scale are decided there."""

import os
from pathlib import Path
from xml.etree import ElementTree

SOURCE_DIR = Path(__file__).resolve().parents[2]
UPDATER = Path(os.environ.get("NIRVA_BUILD_DIR", SOURCE_DIR / "build" / "test")) / "nirva_updater.exe"
ASSEMBLY = "{urn:schemas-microsoft-com:asm.v1}"
SETTINGS = "{urn:schemas-microsoft-com:asm.v3}application/{urn:schemas-microsoft-com:asm.v3}windowsSettings/"


def built_manifest():
    data = UPDATER.read_bytes()
    assert data.count(b"<assembly ") == 1
    start = data.index(b"<?xml")
    return ElementTree.fromstring(data[start:data.index(b"</assembly>", start) + len(b"</assembly>")])


def test_the_built_manifest_asks_for_common_controls_6_and_to_lay_out_at_each_displays_scale():
    manifest = built_manifest()

    dependency = manifest.find(f"{ASSEMBLY}dependency/{ASSEMBLY}dependentAssembly/{ASSEMBLY}assemblyIdentity")
    assert dependency is not None and dependency.attrib == {
        "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
        "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"}
    # Windows 7 to 8.1 read the first, Windows 10 and 11 the second, in its first value it knows.
    aware = manifest.findtext(SETTINGS + "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")
    awareness = manifest.findtext(SETTINGS + "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness")
    assert (aware or "").strip().lower() == "true/pm"
    assert [value.strip() for value in (awareness or "").split(",")][0] == "PerMonitorV2"
