"""Real PEs with a version resource, as a resource compiler writes it, for
the release tool's tests: built once with the MinGW tools, then given any
ProductVersion."""

import subprocess

MINGW_GCC = "x86_64-w64-mingw32-gcc-posix"
MINGW_WINDRES = "x86_64-w64-mingw32-windres"
# Stands for the ProductVersion of the "versioned" executable; replaced, with
# NULs after it, by the version a test wants.
PLACEHOLDER = "@" * 32

VERSION_RC = """\
1 VERSIONINFO
FILEVERSION 1,4,0,7
PRODUCTVERSION 1,4,0,7
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
%(tables)s
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", %(translations)s
  END
END
"""


def string_table(name, **values):
    lines = [f'    BLOCK "{name}"', "    BEGIN"]
    lines += [f'      VALUE "{key}", "{value}"' for key, value in values.items()]
    return "\n".join(lines + ["    END"])


def build(directory):
    """Executables in directory, by name: "versioned" with a ProductVersion to
    fill in, "first-translation-lacks-it", and "unversioned" without a version
    resource."""
    (directory / "main.c").write_text("int main(void) { return 0; }\n")
    resources = {
        "versioned": VERSION_RC % {
            "tables": string_table("040904b0", CompanyName="Test", ProductVersion=PLACEHOLDER),
            "translations": "0x0409, 1200"},
        "first-translation-lacks-it": VERSION_RC % {
            "tables": string_table("041904b0", FileVersion="1.4.0.7") + "\n"
                      + string_table("040904b0", ProductVersion="1.4.0.7"),
            "translations": "0x0419, 1200, 0x0409, 1200"},
        "unversioned": None,
    }
    built = {}
    for name, resource in resources.items():
        objects = []
        if resource is not None:
            (directory / f"{name}.rc").write_text(resource)
            subprocess.run([MINGW_WINDRES, "-O", "coff", "-o", directory / f"{name}.o", directory / f"{name}.rc"],
                           check=True)
            objects.append(directory / f"{name}.o")
        built[name] = directory / f"{name}.exe"
        subprocess.run([MINGW_GCC, "-o", built[name], directory / "main.c", *objects], check=True)
    return built


def with_product_version(executables, version):
    """The versioned executable's bytes with the given ProductVersion."""
    placeholder = PLACEHOLDER.encode("utf-16-le")
    wanted = version.encode("utf-16-le").ljust(len(placeholder), b"\0")
    return executables["versioned"].read_bytes().replace(placeholder, wanted)
