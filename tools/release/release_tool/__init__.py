"""The release tool's parts: reader <- checks (and pe_version) <- package <- cli."""
