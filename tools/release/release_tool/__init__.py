"""The release tool. Imports run one way: cli -> package -> checks -> reader and pe_version."""
