"""The release tool. Imports run one way: cli -> package, report_output -> report -> checks -> reader
and pe_version."""
