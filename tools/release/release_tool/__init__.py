"""The release tool. Imports run one way: cli -> package, report_output -> patches, report -> checks,
deflate -> reader and pe_version."""
