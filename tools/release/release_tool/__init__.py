"""The release tool. Imports run one way: cli -> commands -> keys, publishing and verify; publishing -> package
-> patches -> deflate; report_output -> report; each of them -> checks -> signing and pe_version -> reader."""
