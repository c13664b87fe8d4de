# Type stub for Tavro_Workspace.explorerview (filled in with the classes).
