# Sourced by the scripts that build the .NET package (stage-dotnet.sh,
# package.sh): dotnet_restore PROJECT... restores each project from the
# NuGet index; where none is reachable it restores from the machine's local
# folder /opt/nuget/packages instead, for net10.0 alone (netstandard2.0's
# reference packages are not there), and says so on one line. Afterwards
# dotnet_offline is true or false and dotnet_props holds the properties a
# build or pack with --no-restore must repeat.
dotnet_offline=false
dotnet_props=()
dotnet_restore() {
  local project
  for project in "$@"; do
    if ! timeout 600 dotnet restore "$project" >/dev/null 2>&1; then
      dotnet_offline=true
      break
    fi
  done
  if $dotnet_offline; then
    echo "no NuGet index reachable: net10.0 only, from /opt/nuget/packages"
    # Without an index there is no vulnerability data to check against.
    dotnet_props=(-p:TargetFrameworks=net10.0 -p:NuGetAudit=false)
    for project in "$@"; do
      timeout 600 dotnet restore "$project" --source /opt/nuget/packages "${dotnet_props[@]}" >/dev/null
    done
  fi
}
